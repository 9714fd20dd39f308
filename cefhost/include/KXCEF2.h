// The browser host library: engine start and stop, browsers, the JavaScript
// bridge, off-screen rendering and cookies.
#pragma once

#include "kxcef/browser_delegate.h"
#include "kxcef/cef3_handler.h"
#include "kxcef/cef3_manager.h"
#include "kxcef/cef_base.h"
#include "kxcef/cef_browser.h"
#include "kxcef/cookie_manager.h"
#include "kxcef/js_callback.h"
#include "kxcef/profile.h"
