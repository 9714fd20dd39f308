// The blocking cookie facade. Its work on the engine's cookie store arrives
// with the cookie-manager work; until then it behaves as a manager without a
// global store: nothing is read and the calls return without waiting.
#include "kxcef/cookie_manager.h"

struct CCEF3CookieManager::Impl {};

CCEF3CookieManager::CCEF3CookieManager() = default;
CCEF3CookieManager::~CCEF3CookieManager() = default;

std::vector<CefCookie> CCEF3CookieManager::GetCookie(const CefString&, bool, platform::Event*) { return {}; }
void CCEF3CookieManager::SetCookies(const CefString&, std::vector<CefCookie>&, platform::Event*) {}
void CCEF3CookieManager::DeleteCookies(const CefString&, const CefString&, platform::Event*) {}
