// CCEF3V8Handler: the native handler behind one page extension. A page call
// of one of the extension's native functions is classified (none, synchronous,
// asynchronous) and handled here: synchronous calls run the page-call
// handler in this process, asynchronous ones become native call messages to
// the browser process. Everything here runs on the web process's main thread.
#pragma once

#include <JavaScriptCore/JavaScript.h>
#include <webkit2/webkit-web-extension.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/app.h"
#include "render/js_values.h"

namespace kxcef {

enum class JsCallKind { None = 0, Asynchronous = 1, Synchronous = 2 };

// One native function as bound in one document: its name, its page
// (browser) and frame.
struct NativeCallSite {
    explicit NativeCallSite(const std::string& functionName) : name(functionName), nameString(functionName) {}
    std::string name;
    JsString nameString;  // `name` for property lookups
    int browserId = 0;
    GWeakRef frame;              // WebKitFrame, may be gone
    std::string origin;          // the document's security origin
    std::uint64_t document = 0;  // the document's token
};

// page callbacks waiting for the browser process's reply, by callback id.
class PendingCallbackTable {
public:
    struct Entry {
        JSGlobalContextRef context = nullptr;  // retained
        JSObjectRef function = nullptr;        // protected
        GWeakRef frame;                        // WebKitFrame
    };
    ~PendingCallbackTable();
    void Put(int id, JSGlobalContextRef context, JSObjectRef function, WebKitFrame* frame);
    // Takes the entry out of the table; false when there is none.
    bool Take(int id, Entry& out);
    // Drops the entries of a frame whose document has been replaced.
    void DropStale(WebKitFrame* frame, JSGlobalContextRef current);
    size_t size() const { return entries_.size(); }
    static void Release(Entry& entry);

private:
    std::map<int, Entry> entries_;
};

class CCEF3V8Handler {
public:
    CCEF3V8Handler(CefRefPtr<CCEF3APP> app, WebKitWebExtension* extension, PendingCallbackTable* pending);

    // A page call of the native function of `site`; returns the value for the
    // page, or null for undefined.
    JSValueRef Execute(JSContextRef context, size_t argc, const JSValueRef argv[], NativeCallSite& site);

    JsCallKind Classify(JSContextRef context, const NativeCallSite& site) const;

private:
    JSValueRef ExecuteSynchronous(JSContextRef context, size_t argc, const JSValueRef argv[], NativeCallSite& site);
    void ExecuteAsynchronous(JSContextRef context, size_t argc, const JSValueRef argv[], NativeCallSite& site);
    // A slot's object name for property lookups, made again only when it changes.
    struct SlotName {
        std::string text;
        std::unique_ptr<JsString> string;
        JSStringRef For(const std::string& objectName);
    };

    CefRefPtr<CCEF3APP> app_;
    WebKitWebExtension* extension_;
    PendingCallbackTable* pending_;
    int nextCallbackId_ = 0;
    mutable SlotName syncObject_, asyncObject_;
};

}  // namespace kxcef
