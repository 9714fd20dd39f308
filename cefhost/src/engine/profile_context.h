// ProfileContext: the WebKit web context of one profile directory, shared by
// every browser on that directory while any of them lives (one network
// process, one cookie store). WXRequestContextHandler is a browser's view of it.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/command_line.h"

namespace kxcef {

class ProfileContext : public std::enable_shared_from_this<ProfileContext> {
public:
    // UI thread. The live context of `dir`, or a new one.
    static std::shared_ptr<ProfileContext> Acquire(const std::wstring& dir, const EngineSwitches& switches);
    // Snapshots the session cookies of every live context and waits (bounded) until written.
    static void FlushAll();
    static int LiveCount();

    ~ProfileContext();
    ProfileContext(const ProfileContext&) = delete;
    ProfileContext& operator=(const ProfileContext&) = delete;

    WebKitWebContext* web_context() const { return context_; }
    WebKitCookieManager* cookie_manager() const;
    const std::wstring& dir() const { return dir_; }
    const EngineSwitches& switches() const { return switches_; }

    // Whether the deployment accepts `certificate` for `host` (an address's
    // host) although it failed verification; when it does, the engine accepts
    // it for that host from now on. Each certificate is granted once, so a
    // load that fails again with it is not retried.
    bool AcceptCertificate(const std::string& host, GTlsCertificate* certificate);

    // Runs `task` once the saved session cookies are back in the store.
    void WhenReady(std::function<void()> task);
    // Writes the session cookies to the profile; `done` runs afterwards.
    void FlushCookieStore(std::function<void()> done);
    // Re-opens the persistent store from disk and puts the session cookies of
    // the last flush back; `done` runs afterwards.
    void ReopenCookieStore(std::function<void()> done);

private:
    ProfileContext(std::wstring dir, const EngineSwitches& switches);
    void Create();
    void RestoreSessionCookies(std::function<void()> done);
    void SetReady();

    std::wstring dir_;
    EngineSwitches switches_;
    WebKitWebContext* context_ = nullptr;
    bool persistent_ = false;  // kept in the profile folder (else in memory only)
    bool ready_ = false;
    std::set<std::string> grantedCertificates_;  // "host sha256"
    std::vector<std::function<void()>> whenReady_;
};

// A browser's request context: its profile directory and cookie store.
class WXRequestContextHandler {
public:
    explicit WXRequestContextHandler(std::shared_ptr<ProfileContext> context);
    const std::wstring& path() const { return path_; }
    WebKitCookieManager* GetCookieManager();
    void FlushCookieStore(std::function<void()> done = {});
    void ReopenCookieStore(std::function<void()> done = {});
    const std::shared_ptr<ProfileContext>& context() const { return context_; }

private:
    std::wstring path_;
    std::shared_ptr<ProfileContext> context_;
};

}  // namespace kxcef
