#include "kxcef/testing.h"

#include "browser/browser.h"
#include "engine/profile_context.h"
#include "platform/process.h"

extern "C" KXCEF2_API KXCEF2UriOpener KXCEF2_SetUriOpenerForTesting(KXCEF2UriOpener opener) {
    return platform::SetUriLauncher(opener);
}

extern "C" KXCEF2_API int KXCEF2_LiveBrowserCountForTesting() {
    return static_cast<int>(kxcef::LiveBrowsers().size());
}

extern "C" KXCEF2_API int KXCEF2_LiveProfileCountForTesting() { return kxcef::ProfileContext::LiveCount(); }
