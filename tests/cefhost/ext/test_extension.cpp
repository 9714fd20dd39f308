// The "echo" web-process extension of the browser host's tests: the host
// program's process handler and a page-call handler that answers synchronous
// calls with a description of what it got (bare_extension.cpp: without it).
#include <cstdio>
#include <map>
#include <string>

#include "kxcef/render_extension.h"
#include "launcher/bridge/cef_handler.h"
#include "platform/text.h"
#include "platform/variant.h"

namespace {

std::string Describe(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY: return "EMPTY";
        case VT_I4: return "I4:" + std::to_string(v.lVal);
        case VT_R8: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "R8:%g", v.dblVal);
            return buf;
        }
        case VT_BOOL: return "BOOL:" + std::to_string(v.boolVal);
        case VT_BSTR: return "BSTR:" + platform::WideToUtf8(platform::VariantText(v));
        default: return "VT:" + std::to_string(v.vt);
    }
}

class EchoJsHandler : public CJSCallbackHandler {
public:
    bool OnSyncJsCall(int browserId, const std::string& name, std::vector<VARIANT>& args, VARIANT* result) override {
        std::string first = args.empty() ? std::string() : platform::WideToUtf8(platform::VariantText(args[0]));
        if (first == "number") {
            result->vt = VT_I4;
            result->lVal = 42;
        } else if (first == "double") {
            result->vt = VT_R8;
            result->dblVal = 2.5;
        } else if (first == "bool") {
            result->vt = VT_BOOL;
            result->boolVal = 7;
        } else if (first == "date") {
            result->vt = VT_DATE;
            result->date = 1.0;
        } else if (first == "nothing") {
            // leaves the result empty
        } else if (first == "lastResult") {
            std::string of = args.size() > 1 ? platform::WideToUtf8(platform::VariantText(args[1])) : "";
            *result = platform::MakeBstrVariant(platform::Utf8ToWide(lastResults_[of]));
        } else if (first == "length") {
            // The length of argument 1 as the handler saw it, and whether it kept its nulls.
            std::wstring text = args.size() > 1 ? platform::VariantText(args[1]) : std::wstring();
            size_t nulls = 0;
            for (wchar_t c : text) nulls += c == 0;
            *result = platform::MakeBstrVariant(
                platform::Utf8ToWide(std::to_string(text.size()) + "/" + std::to_string(nulls)));
        } else {
            std::string text = "sync|" + name + "|" + std::to_string(browserId);
            for (const VARIANT& v : args) text += "|" + Describe(v);
            *result = platform::MakeBstrVariant(platform::Utf8ToWide(text));
        }
        return true;
    }
    bool OnAsynJsEvent(int, const std::string&, std::vector<VARIANT>&) override { return true; }
    bool OnPrepareJsCommand(int, const std::string&, const std::string& functionName,
                            std::vector<VARIANT>& extraArgs) override {
        if (functionName == "withExtra") {
            extraArgs.push_back(platform::MakeI4Variant(7));
            extraArgs.push_back(platform::MakeBstrVariant(L"extra"));
        }
        return true;
    }
    void OnJsCommandResult(int, const std::string& messageName, const std::string& functionName,
                           VARIANT* result) override {
        lastResults_[messageName] = messageName + "|" + functionName + "|" + (result ? Describe(*result) : "none");
    }

private:
    std::map<std::string, std::string> lastResults_;  // by message name
};

void Install() {
    static auto* processHandler = new QNInterface::QNCEF::CQNCefHandler();
    CCEF3Manager::SetProcessHandler(processHandler);
    static auto* jsHandler = new EchoJsHandler();
    CCEF3Manager::SetJSCallBackHandler(jsHandler);
}

}  // namespace

KXCEF2_RENDER_EXTENSION(Install)
