#include "kxcef/testing.h"

#include "browser/browser.h"
#include "browser/handler_impl.h"
#include "browser/spare_view.h"
#include "browser/system_launch.h"
#include "engine/profile_context.h"
#include "platform/process.h"

extern "C" KXCEF2_API KXCEF2UriOpener KXCEF2_SetUriOpenerForTesting(KXCEF2UriOpener opener) {
    return platform::SetUriLauncher(opener);
}

extern "C" KXCEF2_API void KXCEF2_ResetLaunchLimitForTesting() { kxcef::ResetLaunchLimit(); }

extern "C" KXCEF2_API int KXCEF2_LiveBrowserCountForTesting() {
    return static_cast<int>(kxcef::LiveBrowsers().size());
}

extern "C" KXCEF2_API int KXCEF2_LiveProfileCountForTesting() { return kxcef::ProfileContext::LiveCount(); }

extern "C" KXCEF2_API void KXCEF2_ExpireSpareViewForTesting() { kxcef::DropSpareView(); }

extern "C" KXCEF2_API long KXCEF2_OsrInvalidationsForTesting(HWND host) { return kxcef::OsrInvalidationCount(host); }

extern "C" KXCEF2_API bool KXCEF2_OsrTimerForTesting(CCEF3Handler* handler, int* periodMs, long long* ticks) {
    CefRefPtr<kxcef::CCEF3OSRHandler> osr = handler ? handler->impl()->Osr() : nullptr;
    if (!osr) return false;
    const kxcef::CMMTimer& timer = osr->timer().timer();
    if (periodMs) *periodMs = timer.running() ? static_cast<int>(timer.delay()) : 0;
    if (ticks) *ticks = static_cast<long long>(timer.ticks());
    return true;
}
