#include "browser/system_launch.h"

#include <deque>

#include "browser/reply_route.h"
#include "common/log_text.h"
#include "log.h"
#include "platform/process.h"
#include "platform/text.h"

namespace kxcef {
namespace {

// An action counts for what it sets off right away: a click that opens a
// pop-up or starts a download. The engine's own gesture window is shorter.
constexpr gint64 kActivationWindowUs = 2 * G_USEC_PER_SEC;
// At most this many launches in any minute.
constexpr size_t kMaxLaunchesPerMinute = 5;
constexpr gint64 kMinuteUs = 60 * G_USEC_PER_SEC;

bool AllowedScheme(const std::string& url) {
    gchar* scheme = g_uri_parse_scheme(url.c_str());
    std::string s = scheme ? platform::ToLowerAscii(std::string(scheme)) : std::string();
    g_free(scheme);
    return s == "http" || s == "https" || s == "mailto";
}

void LogRefused(const std::string& url, const char* why) {
    static RefusalLogBudget budget;
    RefusalLogBudget::Line line = budget.Take();
    if (line == RefusalLogBudget::Line::None) return;
    if (line == RefusalLogBudget::Line::Last) {
        LogWarning(kLogHandler, "more addresses refused to the system's handler; no further lines for them");
        return;
    }
    LogWarning(kLogHandler, "address not handed to the system's handler: " + PageTextForLog(MaskUrl(url)) + " (" + why +
                                ")");
}

// Launch times of the last minute, oldest first.
std::deque<gint64>& Launches() {
    static std::deque<gint64> launches;
    return launches;
}

bool TakeLaunchSlot() {
    std::deque<gint64>& launches = Launches();
    gint64 now = g_get_monotonic_time();
    while (!launches.empty() && now - launches.front() >= kMinuteUs) launches.pop_front();
    if (launches.size() >= kMaxLaunchesPerMinute) return false;
    launches.push_back(now);
    return true;
}

}  // namespace

void ResetLaunchLimit() { Launches().clear(); }

void UserActivation::Note(std::string origin) {
    origin_ = std::move(origin);
    at_ = g_get_monotonic_time();
}

std::string UserActivation::RecentOrigin() const {
    if (at_ == 0 || g_get_monotonic_time() - at_ > kActivationWindowUs) return {};
    return origin_;
}

bool LaunchForPage(const std::string& url, bool engineGesture, const UserActivation& activation) {
    if (!AllowedScheme(url)) {
        LogRefused(url, "only http, https and mailto addresses");
        return false;
    }
    std::string actedIn = activation.RecentOrigin();
    if (!engineGesture || actedIn.empty()) {
        LogRefused(url, "no user action");
        return false;
    }
    if (!PageOriginTrusted(actedIn)) {
        LogRefused(url, ("the user acted in a page of " + PageTextForLog(actedIn) + ", not the front-end").c_str());
        return false;
    }
    if (!TakeLaunchSlot()) {
        LogRefused(url, "too many in a minute");
        return false;
    }
    return platform::OpenWithSystem(url);
}

}  // namespace kxcef
