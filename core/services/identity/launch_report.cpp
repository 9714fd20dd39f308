// The launch statistics report: one HTTP POST per client start, sent on the
// worker pool, retried, fire and forget.
#include <curl/curl.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include <fmt/format.h>

#include "common/client_config.h"
#include "common/log_record.h"
#include "core/services/identity/http_launch_app.h"
#include "core/services/pool/thread_pool.h"
#include "core/services/json/json_escape.h"

namespace {

constexpr const char kLogSource[] = "Logic\\Http_Interface\\HttpLaunchApp";
constexpr int kPerformsPerAttempt = 4;
constexpr long kTimeoutSeconds = 5;
constexpr long kDnsCacheSeconds = 259200;  // three days
// The answer is never read: only its start is kept, however much the server sends.
constexpr size_t kKeptResponseBytes = 64 * 1024;

size_t AppendResponse(char* data, size_t size, size_t count, void* userdata) {
    auto* response = static_cast<std::string*>(userdata);
    size_t bytes = size * count;
    if (!data || !response || bytes == 0) return static_cast<size_t>(-1);
    if (response->size() < kKeptResponseBytes)
        response->append(data, std::min(bytes, kKeptResponseBytes - response->size()));
    return bytes;
}

}  // namespace

std::string HttpLaunchApp::BuildReportBody(const std::string& identityText, const std::string& cid,
                                           const std::string& ccid, const std::string& tgid,
                                           const std::string& version, const std::string& pid) {
    // The values stay readable by the service ('&' and '=' untouched) but can
    // no longer end the JSON string early.
    return fmt::format(
        "{{\"para\":[\"mq=lau_rw_start&data={vesk_head}&cid={cid}&ccid={ccid}&tgid={tgid}&version={version}"
        "&info={info}&pid={pid}\"]}}",
        fmt::arg("vesk_head", JsonEscapeText(identityText)), fmt::arg("cid", JsonEscapeText(cid)),
        fmt::arg("ccid", JsonEscapeText(ccid)), fmt::arg("tgid", JsonEscapeText(tgid)),
        fmt::arg("version", JsonEscapeText(version)), fmt::arg("info", "start"),
        fmt::arg("pid", JsonEscapeText(pid)));
}

void HttpLaunchApp::InitLibraries() {
    // A report may still be on its way when the client quits (an endpoint that
    // never answers holds one for its whole time-out), and nothing waits for
    // it. OpenSSL's own clean-up at exit would then free its locks under that
    // report's TLS handshake and crash the ending process: it is left to the
    // end of the process instead. Only the first set-up of OpenSSL in the
    // process decides: this one, before libcurl's.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    curl_global_init(CURL_GLOBAL_ALL);
}

bool HttpLaunchApp::SendVeskLaunchApp(const std::string& cid, const std::string& ccid, const std::string& tgid,
                                      const std::string& pid, const std::string& version, std::string url) {
    QM_PRIVATE_LOG(kLogSource) << "<HttpLaunchApp> \xC9\xCF\xB1\xA8\xC6\xF4\xB6\xAF";  // "report start", code page 936
    if (url.empty()) url = DeployConfig::Load().StatisticsEndpoint();
    std::string body = BuildReportBody(IdentityText(), cid, ccid, tgid, version, pid);
    QM_PRIVATE_LOG(kLogSource) << "<HttpLaunchApp> SendVeskLaunchApp param:" << body;

    {
        std::lock_guard<std::mutex> lock(reportsLock_);
        ++reportsRunning_;
    }
    CommonFunc::ThreadPool::Get()->GetPool().schedule([this, url, body] {
        PostTask(url, body, 3);
        std::lock_guard<std::mutex> lock(reportsLock_);
        if (--reportsRunning_ == 0) reportsDone_.notify_all();
    });
    return true;
}

void HttpLaunchApp::SetRetryPolicy(RetryPolicy policy) {
    std::lock_guard<std::mutex> lock(policyLock_);
    policy_ = policy;
}

std::chrono::milliseconds HttpLaunchApp::NominalPause(const RetryPolicy& policy, int failedRequests) {
    auto pause = policy.first;
    for (int i = 0; i < failedRequests && pause < policy.longest; ++i) pause *= 2;
    return std::min(pause, policy.longest);
}

void HttpLaunchApp::PauseAfterFailure(int failed) {
    RetryPolicy policy;
    {
        std::lock_guard<std::mutex> lock(policyLock_);
        policy = policy_;
    }
    auto pause = NominalPause(policy, failed);
    thread_local std::minstd_rand spread(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ std::hash<std::thread::id>()(std::this_thread::get_id())));
    auto extra = std::chrono::milliseconds(pause.count() / 4 > 0 ? spread() % (pause.count() / 4 + 1) : 0);
    std::this_thread::sleep_for(pause + extra);
}

bool HttpLaunchApp::PostTask(const std::string& url, const std::string& body, int count) {
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    bool sent = false;
    if (!url.empty() && !body.empty()) {
        int failed = 0;
        for (int i = 0; i < count && !sent; ++i) sent = Attempt(curl, url, body, failed, count - i - 1);
    }
    curl_easy_cleanup(curl);
    return sent;
}

bool HttpLaunchApp::Attempt(void* handle, const std::string& url, const std::string& body, int& failed,
                            int remaining) {
    CURL* curl = static_cast<CURL*>(handle);
    std::string response;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // cookie engine on, no file read
    {
        std::lock_guard<std::mutex> lock(cookieLock_);
        if (savedCookies_.empty()) {
            curl_easy_setopt(curl, CURLOPT_COOKIELIST, "ALL");
        } else {
            for (const std::string& line : savedCookies_) curl_easy_setopt(curl, CURLOPT_COOKIELIST, line.c_str());
        }
    }
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendResponse);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT, kDnsCacheSeconds);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    // The address's own scheme only (the report never follows a redirect), and
    // over https a certificate that chains to the system's authorities and
    // names the host: the identity goes to that host or nowhere.
    bool tls = url.compare(0, 8, "https://") == 0;
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, tls ? "https" : "http");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);

    for (int i = 0; i < kPerformsPerAttempt; ++i) {
        curl_easy_perform(curl);
        long code = 0;
        if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code == 200) {
            SaveCookies(curl);
            return true;
        }
        // No pause after the very last request of the report: nothing follows it.
        if (remaining > 0 || i + 1 < kPerformsPerAttempt) PauseAfterFailure(failed);
        ++failed;
    }
    return false;
}

void HttpLaunchApp::SaveCookies(void* handle) {
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(static_cast<CURL*>(handle), CURLINFO_COOKIELIST, &list) != CURLE_OK) return;
    std::vector<std::string> lines;
    for (curl_slist* item = list; item; item = item->next) {
        if (item->data) lines.emplace_back(item->data);
    }
    curl_slist_free_all(list);
    if (lines.empty()) return;
    std::lock_guard<std::mutex> lock(cookieLock_);
    savedCookies_ = std::move(lines);
}

int HttpLaunchApp::ReportsRunning() {
    std::lock_guard<std::mutex> lock(reportsLock_);
    return reportsRunning_;
}

std::vector<std::string> HttpLaunchApp::SavedCookies() const {
    std::lock_guard<std::mutex> lock(cookieLock_);
    return savedCookies_;
}
