// Which document of a page asks the desktop to open an address (a pop-up, a
// navigation to a scheme the engine does not show, a download), and whether
// that document holds the user's activation. The engine's requests do not
// say which document made them; the page's web processes do, from inside
// each document: every trusted user action (pointer or key) in it, and every
// address it asks to open from a page function or a link the activation
// follows (an "intent"). A request is granted to one document only:
//   - the document of a fresh intent for exactly that address, else
//   - while no foreign document has been part of the page since its main
//     document arrived, the document the user last acted in (every
//     document there is the front-end's, so one of them asked);
// and only when that document is a front-end document and its own user
// action is recent and not yet used: an action allows one launch.
// UI thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>

namespace kxcef {

class LaunchLedger {
public:
    using Clock = std::chrono::steady_clock;
    // Whether documents of an origin are the front-end's.
    using Trust = std::function<bool(const std::string& origin)>;
    // How long an action or an intent counts: a click and what it sets off
    // right away.
    static constexpr std::chrono::milliseconds kActivationWindow{2000};

    enum class Kind { Popup, Navigation, Download };

    struct Verdict {
        bool allowed = false;
        std::string why;            // the refusal, in words
        std::uint64_t document = 0;  // the document it is granted to
    };

    explicit LaunchLedger(Trust trust) : trust_(std::move(trust)) {}

    // The main frame shows a document; `restored` when it came back from the
    // engine's page cache (its subframes come back without a load).
    void NoteMainDocument(std::uint64_t token, const std::string& origin, bool restored);
    // A document, or a response, of a subframe.
    void NoteFrameDocument(const std::string& origin);
    void NoteAction(std::uint64_t token, const std::string& origin, Clock::time_point now = Clock::now());
    void NoteIntent(std::uint64_t token, const std::string& origin, const std::string& url,
                    Clock::time_point now = Clock::now());

    // `engineGesture`: the engine's word that a user gesture is behind a
    // pop-up or a navigation (downloads carry none).
    Verdict Decide(const std::string& url, Kind kind, bool engineGesture, Clock::time_point now = Clock::now());
    // The verdict's launch went out: its action and intent are used up.
    void Consume(const Verdict& verdict, const std::string& url);

    bool foreignSeen() const { return foreignSeen_; }

private:
    struct Action {
        std::string origin;
        Clock::time_point at;
        bool used = false;
    };
    struct Intent {
        std::uint64_t token;
        std::string origin;
        std::string url;
        Clock::time_point at;
    };
    void Prune(Clock::time_point now);

    Trust trust_;
    std::uint64_t mainDocument_ = 0;
    bool foreignSeen_ = false;
    std::unordered_map<std::uint64_t, Action> actions_;
    std::uint64_t lastActor_ = 0;
    std::deque<Intent> intents_;
};

}  // namespace kxcef
