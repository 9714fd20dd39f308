#include <map>

#include "browser/browser.h"

namespace kxcef {
namespace {
std::map<int, BrowserImpl*>& Registry() {
    static auto* registry = new std::map<int, BrowserImpl*>();
    return *registry;
}
}  // namespace

BrowserImpl* FindBrowser(int id) {
    auto it = Registry().find(id);
    return it == Registry().end() ? nullptr : it->second;
}

void RegisterBrowser(BrowserImpl* browser) { Registry()[browser->GetIdentifier()] = browser; }

void UnregisterBrowser(BrowserImpl* browser) {
    auto it = Registry().find(browser->GetIdentifier());
    if (it != Registry().end() && it->second == browser) Registry().erase(it);
}

std::vector<CefRefPtr<BrowserImpl>> LiveBrowsers() {
    std::vector<CefRefPtr<BrowserImpl>> out;
    for (auto& entry : Registry()) out.emplace_back(entry.second);
    return out;
}

}  // namespace kxcef
