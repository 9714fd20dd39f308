#include "launcher/bridge/web_wnd_manager.h"

#include <algorithm>

#include "platform/text.h"

namespace QNInterface {
namespace QNCEF {

bool QNWebWndManager::OnAsynJsEvent(int browserId, const std::string& /*name*/, std::vector<VARIANT>& args) {
    if (args.size() < 3) return true;
    // args[0] is the callback id; args[1] the request name, args[2] its text.
    // The texts go to UTF-8 directly: a detour through the ANSI code page would
    // turn every character GBK lacks into '?'.
    std::string request = platform::WideToUtf8(platform::VariantText(args[1]));
    std::string json = platform::WideToUtf8(platform::VariantText(args[2]));
    // A call without a request name (KXWebApp.PostCPPTask carries its callback
    // there) is no page command.
    if (request.empty()) return true;
    WND::IQNWebWnd* window = FindWindow(browserId);
    if (window) {
        CEFRequest req{std::move(request), std::move(json), window};
        window->Dispatch(req);  // outside the lock: handlers may register or dispatch
    }
    return true;
}

WND::IQNWebWnd* QNWebWndManager::FindWindow(int browserId) const {
    std::lock_guard<std::mutex> lock(lock_);
    for (WND::IQNWebWnd* w : windows_)
        if (w->GetBrowserId() == browserId) return w;
    return nullptr;
}

void QNWebWndManager::AddWebWnd(WND::IQNWebWnd* window) {
    std::lock_guard<std::mutex> lock(lock_);
    windows_.push_back(window);
}

void QNWebWndManager::RemoveWebWnd(WND::IQNWebWnd* window) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = std::find(windows_.begin(), windows_.end(), window);
    if (it != windows_.end()) windows_.erase(it);
}

size_t QNWebWndManager::WindowCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return windows_.size();
}

}  // namespace QNCEF
}  // namespace QNInterface
