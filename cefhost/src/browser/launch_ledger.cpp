#include "browser/launch_ledger.h"

#include <algorithm>

namespace kxcef {
namespace {
// A page reports at most a handful a second; these only bound a flood.
constexpr size_t kMaxActions = 64;
constexpr size_t kMaxIntents = 32;
}  // namespace

constexpr std::chrono::milliseconds LaunchLedger::kActivationWindow;

void LaunchLedger::NoteMainDocument(std::uint64_t token, const std::string& origin, bool restored) {
    // A new main document replaces every frame of the page; a restored one
    // brings back frames that report nothing new, so what was seen stays.
    if (token != mainDocument_ && !restored) foreignSeen_ = false;
    mainDocument_ = token;
    if (!trust_(origin)) foreignSeen_ = true;
}

void LaunchLedger::NoteFrameDocument(const std::string& origin) {
    if (!trust_(origin)) foreignSeen_ = true;
}

void LaunchLedger::NoteAction(std::uint64_t token, const std::string& origin, Clock::time_point now) {
    Prune(now);
    if (actions_.size() >= kMaxActions && !actions_.count(token)) actions_.clear();
    actions_[token] = Action{origin, now, false};
    lastActor_ = token;
}

void LaunchLedger::NoteIntent(std::uint64_t token, const std::string& origin, const std::string& url,
                              Clock::time_point now) {
    Prune(now);
    if (intents_.size() >= kMaxIntents) intents_.pop_front();
    intents_.push_back(Intent{token, origin, url, now});
}

void LaunchLedger::Prune(Clock::time_point now) {
    while (!intents_.empty() && now - intents_.front().at > kActivationWindow) intents_.pop_front();
    for (auto it = actions_.begin(); it != actions_.end();) {
        if (now - it->second.at > kActivationWindow) it = actions_.erase(it);
        else ++it;
    }
}

LaunchLedger::Verdict LaunchLedger::Decide(const std::string& url, Kind kind, bool engineGesture,
                                           Clock::time_point now) {
    Prune(now);
    Verdict v;
    if (kind != Kind::Download && !engineGesture) {
        v.why = "no user action";
        return v;
    }
    // The newest intent for the address names the document that asked.
    auto intent = std::find_if(intents_.rbegin(), intents_.rend(), [&](const Intent& i) { return i.url == url; });
    std::uint64_t token = 0;
    std::string origin;
    if (intent != intents_.rend()) {
        token = intent->token;
        origin = intent->origin;
    } else if (foreignSeen_) {
        v.why = "no front-end document asked for it, and the page holds a foreign document";
        return v;
    } else {
        auto last = actions_.find(lastActor_);
        if (last == actions_.end()) {
            v.why = "no user action";
            return v;
        }
        token = last->first;
        origin = last->second.origin;
    }
    if (!trust_(origin)) {
        v.why = "asked for by a page of " + origin + ", not the front-end";
        return v;
    }
    auto action = actions_.find(token);
    if (action == actions_.end() || action->second.used) {
        v.why = action == actions_.end() ? "no user action in the document that asked for it"
                                         : "the user action it follows has opened an address already";
        return v;
    }
    v.allowed = true;
    v.document = token;
    return v;
}

void LaunchLedger::Consume(const Verdict& verdict, const std::string& url) {
    if (!verdict.allowed) return;
    auto action = actions_.find(verdict.document);
    if (action != actions_.end()) action->second.used = true;
    intents_.erase(std::remove_if(intents_.begin(), intents_.end(),
                                  [&](const Intent& i) { return i.token == verdict.document && i.url == url; }),
                   intents_.end());
}

}  // namespace kxcef
