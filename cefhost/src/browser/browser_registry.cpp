#include <map>

#include "browser/browser.h"
#include "ui_thread.h"

namespace kxcef {
namespace {
std::map<int, BrowserImpl*>& Registry() {
    static auto* registry = new std::map<int, BrowserImpl*>();
    return *registry;
}
}  // namespace

BrowserImpl* FindBrowser(int id) {
    KX_ASSERT_UI_THREAD();
    auto it = Registry().find(id);
    return it == Registry().end() ? nullptr : it->second;
}

void RegisterBrowser(BrowserImpl* browser) {
    KX_ASSERT_UI_THREAD();
    Registry()[browser->GetIdentifier()] = browser;
}

void UnregisterBrowser(BrowserImpl* browser) {
    KX_ASSERT_UI_THREAD();
    auto it = Registry().find(browser->GetIdentifier());
    if (it != Registry().end() && it->second == browser) Registry().erase(it);
}

std::vector<CefRefPtr<BrowserImpl>> LiveBrowsers() {
    KX_ASSERT_UI_THREAD();
    std::vector<CefRefPtr<BrowserImpl>> out;
    for (auto& entry : Registry()) out.emplace_back(entry.second);
    return out;
}

}  // namespace kxcef
