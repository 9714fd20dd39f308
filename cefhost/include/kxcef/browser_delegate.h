// Browser event callbacks of a CCEF3Handler: the caller derives from the
// template CCEF3BrowserDelegate, bound to one operation of its own object.
#pragma once

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "kxcef/cef_browser.h"

// Event codes of the browser-event and event-detail callbacks.
enum CEF3BrowserEvent {
    CEF3_EVENT_CREATED = 1,     // the main frame, value 0
    CEF3_EVENT_LOAD_START = 2,  // the frame, value 0
    CEF3_EVENT_LOAD_END = 3,    // the frame, value = HTTP status
    CEF3_EVENT_LOAD_ERROR = 4,  // the frame, value = engine error code
};
// Display kinds: 1 = title (ANSI code page), 2 = address (UTF-8).
enum CEF3DisplayKind { CEF3_DISPLAY_TITLE = 1, CEF3_DISPLAY_ADDRESS = 2 };
// New-link kinds: 1 = navigation, 2 = pop-up.
enum CEF3LinkKind { CEF3_LINK_NAVIGATION = 1, CEF3_LINK_POPUP = 2 };

struct CEF3EventDetail {
    int eventCode = 0;
    int value = 0;
    std::wstring text1;  // load error: the failed URL
    std::wstring text2;  // load error: the error text
};

class KXCEF2_API CCEF3BrowserDelegateBase {
public:
    virtual ~CCEF3BrowserDelegateBase() = default;

    virtual bool InvokeDownloadTask(std::string url, std::string suggestedName, bool* handled) {
        return OnDownloadTask(std::move(url), std::move(suggestedName), handled);
    }
    virtual bool InvokeNewBrowserLink(std::wstring url, std::wstring referrer, std::wstring frameUrl,
                                      std::wstring frameName, int kind, bool* cancel) {
        return OnNewBrowserLink(std::move(url), std::move(referrer), std::move(frameUrl),
                                std::move(frameName), kind, cancel);
    }
    virtual bool InvokeDisplay(std::string text, int kind) { return OnDisplay(std::move(text), kind); }
    virtual bool InvokeLoadState(bool isLoading, bool canGoBack, bool canGoForward) {
        return OnLoadState(isLoading, canGoBack, canGoForward);
    }
    virtual bool InvokeEventDetail(CEF3EventDetail detail) { return OnEventDetail(std::move(detail)); }
    virtual bool InvokeBrowserEvent(int eventCode, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                    int value) {
        return OnBrowserEvent(eventCode, std::move(browser), std::move(frame), value);
    }

protected:
    virtual bool OnDownloadTask(std::string, std::string, bool*) { return false; }
    virtual bool OnNewBrowserLink(std::wstring, std::wstring, std::wstring, std::wstring, int, bool*) {
        return false;
    }
    virtual bool OnDisplay(std::string, int) { return false; }
    virtual bool OnLoadState(bool, bool, bool) { return false; }
    virtual bool OnEventDetail(CEF3EventDetail) { return false; }
    virtual bool OnBrowserEvent(int, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int) { return false; }

public:
    virtual CCEF3BrowserDelegateBase* Clone() const { return nullptr; }
    // Same target, same bound operation.
    virtual bool Equals(const CCEF3BrowserDelegateBase& other) const { return typeid(*this) == typeid(other); }
};

// A delegate bound to one member operation of a T.
template <class T>
class CCEF3BrowserDelegate : public CCEF3BrowserDelegateBase {
public:
    using DownloadTask = bool (T::*)(std::string, std::string, bool*);
    using NewBrowserLink = bool (T::*)(std::wstring, std::wstring, std::wstring, std::wstring, int, bool*);
    using Display = bool (T::*)(std::string, int);
    using LoadState = bool (T::*)(bool, bool, bool);
    using EventDetail = bool (T::*)(CEF3EventDetail);
    using BrowserEvent = bool (T::*)(int, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int);

    CCEF3BrowserDelegate(T* t, DownloadTask op) : target_(t), download_(op) {}
    CCEF3BrowserDelegate(T* t, NewBrowserLink op) : target_(t), link_(op) {}
    CCEF3BrowserDelegate(T* t, Display op) : target_(t), display_(op) {}
    CCEF3BrowserDelegate(T* t, LoadState op) : target_(t), state_(op) {}
    CCEF3BrowserDelegate(T* t, EventDetail op) : target_(t), detail_(op) {}
    CCEF3BrowserDelegate(T* t, BrowserEvent op) : target_(t), event_(op) {}

    CCEF3BrowserDelegateBase* Clone() const override { return new CCEF3BrowserDelegate(*this); }
    bool Equals(const CCEF3BrowserDelegateBase& other) const override {
        auto* o = dynamic_cast<const CCEF3BrowserDelegate*>(&other);
        return o && o->target_ == target_ && o->download_ == download_ && o->link_ == link_ &&
               o->display_ == display_ && o->state_ == state_ && o->detail_ == detail_ && o->event_ == event_;
    }

protected:
    bool OnDownloadTask(std::string url, std::string name, bool* handled) override {
        return target_ && download_ ? (target_->*download_)(std::move(url), std::move(name), handled) : false;
    }
    bool OnNewBrowserLink(std::wstring url, std::wstring referrer, std::wstring frameUrl, std::wstring frameName,
                          int kind, bool* cancel) override {
        return target_ && link_ ? (target_->*link_)(std::move(url), std::move(referrer), std::move(frameUrl),
                                                    std::move(frameName), kind, cancel)
                                : false;
    }
    bool OnDisplay(std::string text, int kind) override {
        return target_ && display_ ? (target_->*display_)(std::move(text), kind) : false;
    }
    bool OnLoadState(bool loading, bool back, bool forward) override {
        return target_ && state_ ? (target_->*state_)(loading, back, forward) : false;
    }
    bool OnEventDetail(CEF3EventDetail detail) override {
        return target_ && detail_ ? (target_->*detail_)(std::move(detail)) : false;
    }
    bool OnBrowserEvent(int code, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int value) override {
        return target_ && event_ ? (target_->*event_)(code, std::move(browser), std::move(frame), value) : false;
    }

private:
    T* target_ = nullptr;
    DownloadTask download_ = nullptr;
    NewBrowserLink link_ = nullptr;
    Display display_ = nullptr;
    LoadState state_ = nullptr;
    EventDetail detail_ = nullptr;
    BrowserEvent event_ = nullptr;
};
