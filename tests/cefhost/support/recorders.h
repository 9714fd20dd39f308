// Recording callbacks for the browser host's tests: a browser delegate target
// that keeps every event, and a page-call handler that keeps every
// asynchronous page call. Both are used on the UI thread only, except where
// marked.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kxcef/browser_delegate.h"
#include "kxcef/cef3_handler.h"
#include "kxcef/js_callback.h"

namespace qmtest {

// A VARIANT kept by value.
struct Value {
    VARTYPE vt = VT_EMPTY;
    long i = 0;
    double d = 0;
    std::wstring s;
    static Value From(const VARIANT& v);
    std::string Text() const;  // UTF-8 of s
};

struct AsyncCall {
    int browserId = 0;
    std::string name;
    std::vector<Value> args;
};

// The browser process's page-call handler: records asynchronous calls.
// Thread-safe.
class RecordingJsHandler : public CJSCallbackHandler {
public:
    bool OnSyncJsCall(int, const std::string&, std::vector<VARIANT>&, VARIANT*) override { return true; }
    bool OnAsynJsEvent(int browserId, const std::string& name, std::vector<VARIANT>& args) override;
    bool OnPrepareJsCommand(int, const std::string&, const std::string&, std::vector<VARIANT>&) override {
        return true;
    }
    void OnJsCommandResult(int, const std::string&, const std::string&, VARIANT*) override {}

    std::vector<AsyncCall> Calls() const;
    void Clear();
    // Calls whose argument 2 (a page's request name) equals `request`.
    std::vector<AsyncCall> CallsFor(const std::string& request) const;
    // The JSON texts (argument 3) of KXWebApp.PostCPPTask("report", text) calls of a browser.
    std::vector<std::string> Reports(int browserId) const;

private:
    mutable std::mutex mutex_;
    std::vector<AsyncCall> calls_;
};

// Target of the browser delegates.
class BrowserRecorder {
public:
    struct Event {
        int code = 0;
        int value = 0;
        bool mainFrame = false;
    };
    struct Link {
        std::wstring url, referrer, frameUrl, frameName;
        int kind = 0;
    };
    struct Download {
        std::string url, name;
    };

    bool OnBrowserEvent(int code, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int value);
    bool OnEventDetail(CEF3EventDetail detail);
    bool OnDisplay(std::string text, int kind);
    bool OnLoadState(bool loading, bool back, bool forward);
    bool OnNewBrowserLink(std::wstring url, std::wstring referrer, std::wstring frameUrl, std::wstring frameName,
                          int kind, bool* cancel);
    bool OnDownloadTask(std::string url, std::string name, bool* handled);

    // Subscribes to every list of `handler`.
    void Attach(CCEF3Handler* handler);
    int Count(int code) const;
    bool SawLoadEnd() const { return Count(CEF3_EVENT_LOAD_END) > 0; }

    std::vector<Event> events;
    std::vector<CEF3EventDetail> details;
    std::vector<std::pair<std::string, int>> displays;
    std::vector<Link> links;
    std::vector<Download> downloads;
    int loadStates = 0;

    // Answers of the delegates.
    bool answer = true;  // false stops the delegates after this one
    bool cancelSubFrames = false;
    bool cancelUrlsContaining = false;
    std::wstring cancelPattern;
    bool handlePopups = false;
    bool handleDownloads = false;
};

}  // namespace qmtest
