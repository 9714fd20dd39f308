#include "browser/system_launch.h"

#include <glib.h>

#include <algorithm>
#include <deque>

#include "browser/mailto.h"
#include "browser/schemes.h"
#include "common/log_text.h"
#include "log.h"
#include "platform/process.h"
#include "platform/text.h"

namespace kxcef {
namespace {

// At most this many launches in any minute.
constexpr size_t kMaxLaunchesPerMinute = 5;
constexpr gint64 kMinuteUs = 60 * G_USEC_PER_SEC;

bool AllowedScheme(const std::string& scheme, const std::vector<std::string>& extra) {
    return scheme == "http" || scheme == "https" || scheme == "mailto" ||
           (!scheme.empty() && std::find(extra.begin(), extra.end(), scheme) != extra.end());
}

void LogRefused(const std::string& url, const std::string& why) {
    static RefusalLogBudget budget;
    RefusalLogBudget::Line line = budget.Take();
    if (!line.write) return;
    LogWarning(kLogHandler, "address not handed to the system's handler: " + PageTextForLog(MaskUrl(url)) + " (" +
                                PageTextForLog(why) + ")" + RefusalLogBudget::SkippedNote(line.skipped));
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

bool LaunchForPage(const std::string& url, LaunchLedger::Kind kind, bool engineGesture, LaunchLedger& ledger,
                   const std::vector<std::string>& extraSchemes) {
    std::string scheme = SchemeOf(url);
    if (!AllowedScheme(scheme, extraSchemes)) {
        LogRefused(url, extraSchemes.empty()
                            ? "only http, https and mailto addresses"
                            : "only http, https, mailto and the deployment's schemes");
        return false;
    }
    LaunchLedger::Verdict verdict = ledger.Decide(url, kind, engineGesture);
    if (!verdict.allowed) {
        LogRefused(url, verdict.why);
        return false;
    }
    if (!TakeLaunchSlot()) {
        LogRefused(url, "too many in a minute");
        return false;
    }
    ledger.Consume(verdict, url);
    std::string out = url;
    if (scheme == "mailto") {
        std::vector<std::string> removed;
        out = SanitizeMailto(url, &removed);
        if (!removed.empty()) {
            std::string names;
            for (const std::string& r : removed) names += (names.empty() ? "" : ", ") + PageTextForLog(r, 64);
            LogWarning(kLogHandler, "mailto: address handed on without its fields " + names);
        }
    }
    // The desktop's lookup and start may take longer than the UI thread may
    // wait; a failure is told when it is known.
    platform::OpenWithSystemInBackground(out, [out](bool ok, const std::string& error) {
        if (!ok)
            LogWarning(kLogHandler, "the system's handler did not open " + PageTextForLog(MaskUrl(out)) + " (" +
                                        PageTextForLog(error) + ")");
    });
    return true;
}

}  // namespace kxcef
