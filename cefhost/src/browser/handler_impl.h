// The state behind a CCEF3Handler.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "browser/browser.h"
#include "browser/reply_route.h"
#include "browser/system_launch.h"
#include "kxcef/cef3_handler.h"
#include "osr/osr_handler.h"

namespace kxcef {

// An ordered list of owned delegate copies; an equal delegate is added once.
// Fan-out runs on a snapshot, so a delegate may add delegates.
template <class Base>
class LockedDelegateList {
public:
    void Add(const Base& delegate) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& item : items_)
            if (item->Equals(delegate)) return;
        std::unique_ptr<Base> copy(delegate.Clone());
        if (copy) items_.push_back(std::move(copy));
    }
    bool empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_.empty();
    }
    // Calls `fn` on each delegate in order until one returns false.
    template <class F>
    void FanOut(F&& fn) const {
        for (Base* d : Snapshot())
            if (!fn(d)) break;
    }

private:
    std::vector<Base*> Snapshot() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Base*> out;
        out.reserve(items_.size());
        for (const auto& item : items_) out.push_back(item.get());
        return out;
    }
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Base>> items_;
};

using BrowserDelegateList = LockedDelegateList<CCEF3BrowserDelegateBase>;

}  // namespace kxcef

struct CCEF3Handler::Impl {
    // Guards the fields read from other threads: browser, id, flags, geometry.
    mutable std::mutex mutex;
    CefRefPtr<kxcef::BrowserImpl> browser;
    int browserId = 0;
    HWND mainWindow = nullptr;
    RECT boundary;
    bool hidden = false;
    bool closing = false;
    bool windowLess = false;

    kxcef::BrowserDelegateList browserEvent;
    kxcef::BrowserDelegateList eventDetail;
    kxcef::BrowserDelegateList loadState;
    kxcef::BrowserDelegateList display;
    kxcef::BrowserDelegateList newLink;
    kxcef::BrowserDelegateList download;

    kxcef::LockedDelegateList<CCEF3JSDelegateBase> asyncTask;
    // Which document receives the page commands (UI thread).
    kxcef::ReplyRoute route;
    // Who in the page may have the desktop open an address (UI thread).
    kxcef::LaunchLedger launch{&kxcef::PageOriginTrusted};

    // Off-screen rendering of a windowless browser; created once, then kept.
    CefRefPtr<kxcef::CCEF3OSRHandler> osr;
    // The host window's procedure before this handler watched it (UI thread).
    WNDPROC prevWndProc = nullptr;
    // The browser was hidden because its host window was minimised.
    bool hiddenByMinimize = false;

    CefRefPtr<kxcef::CCEF3OSRHandler> Osr() const {
        std::lock_guard<std::mutex> l(mutex);
        return osr;
    }

    CefRefPtr<kxcef::BrowserImpl> Browser() const {
        std::lock_guard<std::mutex> l(mutex);
        return browser;
    }
};
