#include "core/services/reply/js_reply.h"

#include <mutex>

#include <json/writer.h>

#include "common/log_record.h"
#include "common/log_text.h"
#include "kxcef/cef3_manager.h"
#include "platform/text.h"

namespace {

const char kLog[] = "JsReply";

std::mutex g_senderLock;
JsCommandSender& Sender() {
    static JsCommandSender* sender = new JsCommandSender();  // lives until exit; empty: the browser host
    return *sender;
}

std::string Write(const Json::Value& value) {
    Json::FastWriter writer;
    return writer.write(value);
}

Json::Value Envelope(const Json::Value& data, const std::string& callbackName) {
    Json::Value result(Json::objectValue);
    result["cbfn"] = callbackName;
    result["data"] = data;
    Json::Value reply(Json::objectValue);
    reply["result"] = result;
    return reply;
}

struct ArrayAt {
    Json::Value* array = nullptr;
    std::string path;
};

// The array with the most elements inside `value`.
void LargestArray(Json::Value& value, const std::string& path, ArrayAt& best) {
    if (value.isArray()) {
        if (!best.array || value.size() > best.array->size()) best = {&value, path};
        for (Json::ArrayIndex i = 0; i < value.size(); ++i)
            LargestArray(value[i], path.empty() ? std::to_string(i) : path + "." + std::to_string(i), best);
    } else if (value.isObject()) {
        for (const std::string& key : value.getMemberNames())
            LargestArray(value[key], path.empty() ? key : path + "." + key, best);
    }
}

// The reply in its truncated form: the longest arrays of `data` cut until the
// whole fits the bound.
std::string Truncated(const Json::Value& data, const std::string& callbackName, size_t fullBytes) {
    const size_t bound = kMaxPageCommandTextBytes;
    Json::Value cut = data;
    Json::Value arrays(Json::objectValue);
    Json::Value reply;
    std::string text;
    // Each round keeps the share of the largest array that fits, less a
    // margin; a few rounds settle it.
    for (int round = 0; round < 64; ++round) {
        reply = Envelope(cut, callbackName);
        Json::Value truncated(Json::objectValue);
        truncated["bytes"] = static_cast<Json::UInt64>(fullBytes);
        if (!arrays.empty()) truncated["arrays"] = arrays;
        reply["result"]["truncated"] = truncated;
        text = Write(reply);
        if (text.size() <= bound) return text;
        ArrayAt largest;
        LargestArray(cut, "", largest);
        if (!largest.array || largest.array->empty()) break;
        if (!arrays.isMember(largest.path)) arrays[largest.path] = largest.array->size();
        double share = static_cast<double>(bound) / static_cast<double>(text.size()) * 0.9;
        Json::ArrayIndex keep = static_cast<Json::ArrayIndex>(static_cast<double>(largest.array->size()) * share);
        if (keep >= largest.array->size()) keep = largest.array->size() - 1;
        largest.array->resize(keep);
    }
    // Nothing left to cut: only the envelope says what there was.
    Json::Value bare = Envelope(Json::Value(), callbackName);
    bare["result"]["truncated"]["bytes"] = static_cast<Json::UInt64>(fullBytes);
    return Write(bare);
}

}  // namespace

ReplyAddress AddressOf(const QNInterface::QNCEF::CEFRequest& request) {
    ReplyAddress to;
    to.browserId = request.window ? request.window->GetBrowserId() : -1;
    to.document = request.document;
    return to;
}

std::string BuildCallbackJson(const Json::Value& data, const std::string& callbackName) {
    std::string text = Write(Envelope(data, callbackName));
    if (text.size() <= kMaxPageCommandTextBytes) return text;
    std::string cut = Truncated(data, callbackName, text.size());
    QM_LOG(kLog) << "<qm> reply " << PageTextForLog(callbackName, 64) << " of " << text.size()
                 << " bytes is over the bound of " << kMaxPageCommandTextBytes
                 << " bytes for what the client sends a page: sent truncated (" << cut.size() << " bytes)";
    return cut;
}

std::string BuildRefusalJson(const std::string& command, const std::string& callbackName, const std::string& reason) {
    Json::Value reply = Envelope(Json::Value(), callbackName.empty() ? command : callbackName);
    reply["result"]["refused"]["command"] = command;
    reply["result"]["refused"]["reason"] = reason;
    return Write(reply);
}

void ReplyToRequest(const QNInterface::QNCEF::CEFRequest& request, const Json::Value& data,
                    const std::string& callbackName) {
    SendJsCallback(BuildCallbackJson(data, callbackName), AddressOf(request));
}

void SendJsCallback(const std::string& text, int browserId) {
    ReplyAddress to;
    to.browserId = browserId;
    SendJsCallback(text, to);
}

void SendJsCallback(const std::string& text, const ReplyAddress& to) {
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
    if (sender) sender("JsHandleCallBack", args, to.browserId);
    else CCEF3Manager::SendJsCommandTo("JsHandleCallBack", args, to.browserId, to.document);
    for (VARIANT& v : args) VariantClear(&v);
}

JsCommandSender SetJsCommandSender(JsCommandSender sender) {
    std::lock_guard<std::mutex> lock(g_senderLock);
    JsCommandSender previous = Sender();
    Sender() = std::move(sender);
    return previous;
}
