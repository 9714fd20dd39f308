// Addresses a page has the desktop's default handler open: pop-ups,
// navigations to schemes the engine does not show, and downloads, which the
// engine never runs itself. An address goes out only when
//   - its scheme is http, https, mailto or one the deployment lists,
//   - a front-end document asked for it while holding the user's own, unused
//     action (LaunchLedger says which document asked),
//   - the engine saw a user gesture (pop-ups, navigations), and
//   - fewer than a few went out in the last minute, for the whole process.
// A mailto: address keeps only the fields a message needs. Every refusal
// leaves a log line (rationed). UI thread only.
#pragma once

#include <string>
#include <vector>

#include "browser/launch_ledger.h"
#include "browser/schemes.h"

namespace kxcef {

// Opens `url` with the system when the rules allow it; `extraSchemes` are
// the deployment's. True when the address was handed to the desktop (a
// failure to open it is logged when the desktop has tried).
bool LaunchForPage(const std::string& url, LaunchLedger::Kind kind, bool engineGesture, LaunchLedger& ledger,
                   const std::vector<std::string>& extraSchemes);
// Forgets the launches of the last minute (tests).
void ResetLaunchLimit();

}  // namespace kxcef
