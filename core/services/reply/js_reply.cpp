#include "core/services/reply/js_reply.h"

#include <mutex>

#include <json/writer.h>

#include "kxcef/cef3_manager.h"
#include "platform/text.h"

namespace {

bool SendThroughBrowserHost(const std::string& functionName, std::vector<VARIANT>& args, int browserId) {
    return CCEF3Manager::SendJsCommand(functionName, args, browserId);
}

std::mutex g_senderLock;
JsCommandSender& Sender() {
    static JsCommandSender* sender = new JsCommandSender(&SendThroughBrowserHost);  // lives until exit
    return *sender;
}

}  // namespace

std::string BuildCallbackJson(const Json::Value& data, const std::string& callbackName) {
    Json::Value result(Json::objectValue);
    result["cbfn"] = callbackName;
    result["data"] = data;
    Json::Value reply(Json::objectValue);
    reply["result"] = result;
    Json::FastWriter writer;
    return writer.write(reply);
}

void ReplyToRequest(const QNInterface::QNCEF::CEFRequest& request, const Json::Value& data,
                    const std::string& callbackName) {
    SendJsCallback(BuildCallbackJson(data, callbackName), request.window ? request.window->GetBrowserId() : -1);
}

void SendJsCallback(const std::string& text, int browserId) {
    // Straight from UTF-8 to wide text: a detour through the ANSI code page
    // would turn every character that GBK lacks into '?'.
    std::wstring wide = platform::Utf8ToWide(text);
    if (wide.empty()) return;

    JsCommandSender sender;
    {
        std::lock_guard<std::mutex> lock(g_senderLock);
        sender = Sender();
    }
    std::vector<VARIANT> args;
    args.push_back(platform::MakeBstrVariant(wide));
    sender("JsHandleCallBack", args, browserId);
    for (VARIANT& v : args) VariantClear(&v);
}

JsCommandSender SetJsCommandSender(JsCommandSender sender) {
    std::lock_guard<std::mutex> lock(g_senderLock);
    JsCommandSender previous = Sender();
    Sender() = sender ? std::move(sender) : JsCommandSender(&SendThroughBrowserHost);
    return previous;
}
