// CCEF3V8Handler: the native handler behind one page extension. A page call
// of one of the extension's native functions is classified (none, synchronous,
// asynchronous) and handled here: synchronous calls run the page-call
// handler in this process, asynchronous ones become native call messages to
// the browser process. Everything here runs on the web process's main thread.
#pragma once

#include <webkit2/webkit-web-extension.h>

#include <map>
#include <string>

#include "engine/app.h"

namespace kxcef {

enum class JsCallKind { None = 0, Asynchronous = 1, Synchronous = 2 };

// Where a native function was bound: its page (browser) and frame.
struct NativeCallSite {
    int browserId = 0;
    GWeakRef frame;      // WebKitFrame, may be gone
    std::string origin;  // the frame's origin when its document was set up
};

// page callbacks waiting for the browser process's reply, by callback id.
class PendingCallbackTable {
public:
    struct Entry {
        JSCContext* context = nullptr;  // reference
        JSCValue* function = nullptr;   // reference
        GWeakRef frame;                 // WebKitFrame
    };
    ~PendingCallbackTable();
    void Put(int id, JSCContext* context, JSCValue* function, WebKitFrame* frame);
    // Takes the entry out of the table; false when there is none.
    bool Take(int id, Entry& out);
    // Drops the entries of a frame whose document has been replaced.
    void DropStale(WebKitFrame* frame, JSCContext* current);
    size_t size() const { return entries_.size(); }
    static void Release(Entry& entry);

private:
    std::map<int, Entry> entries_;
};

class CCEF3V8Handler {
public:
    CCEF3V8Handler(CefRefPtr<CCEF3APP> app, WebKitWebExtension* extension, PendingCallbackTable* pending);

    // A page call of native function `name`; returns the value for the page
    // (a new reference) or null for undefined.
    JSCValue* Execute(const std::string& name, JSCContext* context, GPtrArray* arguments, NativeCallSite& site);

    JsCallKind Classify(const std::string& name, JSCContext* context) const;

private:
    JSCValue* ExecuteSynchronous(const std::string& name, JSCContext* context, GPtrArray* arguments, int browserId);
    void ExecuteAsynchronous(const std::string& name, JSCContext* context, GPtrArray* arguments,
                             NativeCallSite& site);

    CefRefPtr<CCEF3APP> app_;
    WebKitWebExtension* extension_;
    PendingCallbackTable* pending_;
    int nextCallbackId_ = 0;
};

}  // namespace kxcef
