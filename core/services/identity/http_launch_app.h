// The machine's identity (cafe group id, host name, boot id, client version)
// and the launch statistics report that carries it to the statistics service.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <json/value.h>

class HttpLaunchApp {
public:
    // The process-wide instance, created on first use and never destroyed.
    static HttpLaunchApp* Get();
    // Sets up libcurl (and OpenSSL under it) for the reports; once, at module start.
    static void InitLibraries();

    // `installDir` is where "qm_version.so" is looked for (empty: beside the executable).
    explicit HttpLaunchApp(std::wstring installDir = std::wstring());
    // Waits for reports still being sent (they use this object).
    ~HttpLaunchApp();
    HttpLaunchApp(const HttpLaunchApp&) = delete;
    HttpLaunchApp& operator=(const HttpLaunchApp&) = delete;

    // Module start: when a gid is set, look up the host name (filling the cache),
    // so the first report does not wait for it.
    void Prime();

    // The four identity values, each in UTF-8 (mac is always empty).
    void GetIdentity(std::string& mac, std::string& bootId, std::string& gid, std::string& pcName);
    // "gid=...&mac=...&pcname=...&bootid=..." from a fresh identity, values unescaped.
    std::string IdentityText();
    // The data of the page's "_get_client_info" answer: gid, mac, pc_name,
    // boot_id (fresh identity) and version.
    Json::Value ClientInfo();

    // Cafe group id from the machine registry (ANSI code page); empty when no key has it.
    std::string ReadGid() const;
    // Host name, cached after the first successful lookup; empty when the lookup fails.
    std::string PcName();
    // Boot time as "ms:s:min:h-day/month/year"; empty when unknown.
    static std::string BootTimeText();
    // 32 upper-case hexadecimal digits of MD5(gid + pc name + boot time text).
    static std::string BootId(const std::string& gidAnsi, const std::string& pcName);
    // Product version of "qm_version.so" as "a.b.c.d" (ANSI); empty when missing.
    std::string Version() const;

    // Sends the launch report in the background (worker pool) and returns at
    // once; the identity is read on the calling thread. An empty url means the
    // deployment's statistics endpoint.
    bool SendVeskLaunchApp(const std::string& cid, const std::string& ccid, const std::string& tgid,
                           const std::string& pid, const std::string& version, std::string url);
    // One report: up to `count` attempts of up to 4 requests each, stopping at
    // the first answer 200. True when one came. Between two requests it waits,
    // longer each time (RetryPause), so a failing service is not hammered.
    bool PostTask(const std::string& url, const std::string& body, int count);

    // The pause after the n-th failed request (0-based): first × 2^n, at most
    // `longest`, plus up to a quarter more so that many clients spread out.
    struct RetryPolicy {
        std::chrono::milliseconds first{500};
        std::chrono::milliseconds longest{8000};
    };
    void SetRetryPolicy(RetryPolicy policy);
    static std::chrono::milliseconds NominalPause(const RetryPolicy& policy, int failedRequests);

    // The report body; every value is escaped for a JSON string but keeps its
    // '&' and '=' as they are.
    static std::string BuildReportBody(const std::string& identityText, const std::string& cid,
                                       const std::string& ccid, const std::string& tgid,
                                       const std::string& version, const std::string& pid);

    // Cookie lines (libcurl's cookie-list form) carried from one report to the next.
    std::vector<std::string> SavedCookies() const;
    // Reports scheduled and not yet finished.
    int ReportsRunning();

private:
    // `failed` counts the failed requests of this report so far.
    bool Attempt(void* curl, const std::string& url, const std::string& body, int& failed, int remaining);
    void PauseAfterFailure(int failed);
    void SaveCookies(void* curl);

    std::wstring installDir_;

    std::mutex pcNameLock_;
    std::string pcNameCache_;

    mutable std::mutex policyLock_;
    RetryPolicy policy_;

    mutable std::mutex cookieLock_;
    std::vector<std::string> savedCookies_;

    std::mutex reportsLock_;
    std::condition_variable reportsDone_;
    int reportsRunning_ = 0;
};
