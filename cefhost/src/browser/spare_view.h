// The spare view: a web view of the default profile made before any browser
// is asked for, so that the engine's web and network processes start up while
// the host program is still building its windows (a bare engine program starts
// them at once; a host that first loads its modules and skins would otherwise
// start them only at its first browser). The first browser of that profile
// takes the view over. UI thread only.
#pragma once

#include <webkit2/webkit2.h>

#include <memory>

#include "engine/profile_context.h"

namespace kxcef {

// Makes the spare view and starts its processes (nothing when there is one
// already or the engine is not running). Unused, it is let go after a while.
void StartSpareView();
// The spare view, when it belongs to `profile`: a reference the caller now
// owns. Null otherwise.
WebKitWebView* TakeSpareView(const std::shared_ptr<ProfileContext>& profile);
// Lets the spare view go (engine shutdown).
void DropSpareView();

}  // namespace kxcef
