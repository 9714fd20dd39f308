// Brings the front-end back after a load of it failed: the built-in offline
// page takes its place, and the address is tried again by itself after
// growing pauses, and at once when the network comes back. A failed load of
// any other page (one the front-end led to) shows why, with a button back to
// the front-end, and is never tried again by itself. UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {
class NetworkWatch;
}

class OfflineRecovery {
public:
    // What the browser control does on the recovery's behalf.
    struct Host {
        // Shows `html` in place of the page at `address`.
        std::function<void(const std::wstring& html, const std::wstring& address)> showPage;
        // Loads `address` again.
        std::function<void(const std::wstring& address)> load;
        // Runs `task` once after `delayMs` on the UI thread.
        std::function<void(std::function<void()> task, unsigned delayMs)> schedule;
        // The brand the page names.
        std::wstring brand;
        // Whether to follow the machine's network (tests of the rules leave it off).
        bool watchNetwork = true;
        // Whether an address is one of the front-end's own (its origin is one
        // the bridge trusts); none set: every address is.
        std::function<bool(const std::wstring& address)> isFrontEnd;
        // The front-end's address: the way back from another page that failed.
        std::wstring frontEnd;
    };

    explicit OfflineRecovery(Host host);
    ~OfflineRecovery();
    OfflineRecovery(const OfflineRecovery&) = delete;
    OfflineRecovery& operator=(const OfflineRecovery&) = delete;

    // A load of the main frame failed (code: cef_errorcode_t). A cancelled
    // load (ERR_ABORTED) is no failure: it gave way to another one. The
    // front-end's own address is tried again by itself; another address is
    // not: its page offers the way back to the front-end.
    void OnLoadFailed(const std::wstring& address, int code, const std::wstring& engineText);
    // A load of the main frame ended: the offline page, or a page that loaded.
    void OnLoadEnd();
    // The network came back: the next try goes now.
    void OnNetworkAvailable();
    // Tries the failed address again now (a reload asked by the user).
    void RetryNow();

    bool offline() const { return !address_.empty(); }
    int failures() const { return failures_; }
    // The pause before the try that follows `failures` failures in a row (ms):
    // 1 s, doubled each time, at most a minute.
    static unsigned RetryDelayMs(int failures);

private:
    void Retry(const char* why);
    void ShowAway(const std::wstring& address, int code, const std::wstring& engineText);

    Host host_;
    std::wstring address_;   // the address being brought back; empty while all is well
    int failures_ = 0;       // failed loads in a row
    unsigned generation_ = 0;  // a scheduled try counts only if nothing happened since
    bool pageLoading_ = false;  // the offline page's own load has not ended yet
    std::shared_ptr<OfflineRecovery*> self_;  // lets scheduled tries find out the object is gone
    std::unique_ptr<platform::NetworkWatch> network_;
};
