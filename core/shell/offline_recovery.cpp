#include "core/shell/offline_recovery.h"

#include <algorithm>

#include "common/log_record.h"
#include "common/log_text.h"
#include "core/shell/offline_page.h"
#include "kxcef/cef_browser.h"
#include "platform/network_watch.h"
#include "platform/text.h"

namespace {
const char kLog[] = "CBrowserCtrl";
constexpr unsigned kFirstDelayMs = 1000;
constexpr unsigned kLongestDelayMs = 60000;

// Addresses come from pages and may carry secrets in their query.
std::string ForLog(const std::wstring& address) { return PageTextForLog(MaskUrl(platform::WideToUtf8(address))); }
}  // namespace

OfflineRecovery::OfflineRecovery(Host host)
    : host_(std::move(host)), self_(std::make_shared<OfflineRecovery*>(this)) {}

OfflineRecovery::~OfflineRecovery() = default;

unsigned OfflineRecovery::RetryDelayMs(int failures) {
    unsigned delay = kFirstDelayMs;
    for (int i = 1; i < failures && delay < kLongestDelayMs; ++i) delay *= 2;
    return std::min(delay, kLongestDelayMs);
}

void OfflineRecovery::OnLoadFailed(const std::wstring& address, int code, const std::wstring& engineText) {
    if (code == ERR_ABORTED) return;
    if (!address.empty() && host_.isFrontEnd && !host_.isFrontEnd(address)) {
        ShowAway(address, code, engineText);
        return;
    }
    if (!address.empty()) address_ = address;
    if (address_.empty()) return;  // nothing to bring back
    ++failures_;
    ++generation_;
    unsigned delay = RetryDelayMs(failures_);
    unsigned seconds = (delay + 999) / 1000;
    QM_LOG(kLog) << "<qm> cannot reach " << ForLog(address_) << " (" << platform::WideToAnsi(OfflineReason(code))
                 << " " << code << ": " << PageTextForLog(platform::WideToUtf8(MaskUrlsIn(engineText)))
                 << "), failure " << failures_ << ", next try in " << seconds << " s";
    if (host_.watchNetwork && !network_) {
        network_ = std::make_unique<platform::NetworkWatch>([this] { OnNetworkAvailable(); });
    }
    OfflinePageFacts facts;
    facts.brand = host_.brand;
    facts.address = address_;
    facts.errorCode = code;
    facts.engineText = engineText;
    facts.retrySeconds = seconds;
    pageLoading_ = true;
    if (host_.showPage) host_.showPage(BuildOfflinePage(facts), address_);
    if (host_.schedule) {
        std::weak_ptr<OfflineRecovery*> alive = self_;
        unsigned generation = generation_;
        host_.schedule(
            [alive, generation] {
                auto self = alive.lock();
                if (self && (*self)->generation_ == generation) (*self)->Retry("the pause is over");
            },
            delay);
    }
}

void OfflineRecovery::ShowAway(const std::wstring& address, int code, const std::wstring& engineText) {
    QM_LOG(kLog) << "<qm> cannot show " << ForLog(address) << " (" << code << ": "
                 << PageTextForLog(platform::WideToUtf8(MaskUrlsIn(engineText)))
                 << "), not the front-end's: its page leads back to " << ForLog(host_.frontEnd);
    // Whatever was being brought back gave way to this page.
    address_.clear();
    failures_ = 0;
    ++generation_;
    OfflinePageFacts facts;
    facts.brand = host_.brand;
    facts.address = address;
    facts.errorCode = code;
    facts.engineText = engineText;
    facts.backAddress = host_.frontEnd;
    pageLoading_ = true;
    if (host_.showPage) host_.showPage(BuildOfflinePage(facts), address);
}

void OfflineRecovery::OnLoadEnd() {
    if (pageLoading_) {
        // The offline page itself is up.
        pageLoading_ = false;
        return;
    }
    if (!offline()) return;
    QM_LOG(kLog) << "<qm> reached " << ForLog(address_) << " again after " << failures_
                 << " failed load(s)";
    address_.clear();
    failures_ = 0;
    ++generation_;  // no scheduled try any more
}

void OfflineRecovery::OnNetworkAvailable() {
    if (offline()) Retry("the network is back");
}

void OfflineRecovery::RetryNow() {
    if (offline()) Retry("asked to");
}

void OfflineRecovery::Retry(const char* why) {
    ++generation_;
    // An offline page whose load never ended (replaced in flight) is not waited for.
    pageLoading_ = false;
    QM_LOG(kLog) << "<qm> trying " << ForLog(address_) << " again: " << why;
    if (host_.load) host_.load(address_);
}
