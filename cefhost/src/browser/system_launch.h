// Addresses a page has the desktop's default handler open (pop-ups and
// downloads, which the engine never opens itself). Only http, https and
// mailto addresses go out, only right after the user acted in a document
// whose origin the host trusts (and, for pop-ups, only when the engine saw a
// user gesture), and at most a few times a minute for the whole process;
// every refusal leaves one log line (bounded). UI thread only.
#pragma once

#include <glib.h>

#include <string>

namespace kxcef {

// The last user action (pointer or key) that a page's web process reported:
// the origin of the document it happened in, and when.
class UserActivation {
public:
    void Note(std::string origin);
    // The origin of an action within the last moments; empty when there was none.
    std::string RecentOrigin() const;

private:
    std::string origin_;
    gint64 at_ = 0;  // monotonic, microseconds
};

// Opens `url` with the system when the rules allow it. `engineGesture`: what
// the engine says about the request (pop-ups); downloads carry no such word
// and pass true. True when the address went out.
bool LaunchForPage(const std::string& url, bool engineGesture, const UserActivation& activation);
// Forgets the launches of the last minute (tests).
void ResetLaunchLimit();

}  // namespace kxcef
