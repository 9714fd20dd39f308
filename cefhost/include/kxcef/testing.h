// Test seams of the browser host library. Not for production callers.
#pragma once

#include <string>

#include "kxcef/export.h"

// Replaces how the library opens addresses outside the browser (pop-ups,
// downloads); null restores the system's opener. Returns the previous one.
using KXCEF2UriOpener = bool (*)(const std::string& uri);
extern "C" KXCEF2_API KXCEF2UriOpener KXCEF2_SetUriOpenerForTesting(KXCEF2UriOpener opener);

// Browsers not yet closed, and profile contexts still alive (a context lives
// until its last browser has closed and its cookies are written).
extern "C" KXCEF2_API int KXCEF2_LiveBrowserCountForTesting();
extern "C" KXCEF2_API int KXCEF2_LiveProfileCountForTesting();
