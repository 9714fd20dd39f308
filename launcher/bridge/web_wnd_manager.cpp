#include "launcher/bridge/web_wnd_manager.h"

#include <algorithm>

#include "common/log_record.h"
#include "common/log_text.h"
#include "kxcef/cef3_manager.h"
#include "platform/text.h"

namespace QNInterface {
namespace QNCEF {
namespace {

const char kLog[] = "QNWebWndManager";
constexpr size_t kMaxLoggedBytes = 120;

}  // namespace

bool QNWebWndManager::OnAsynJsEvent(int browserId, const std::string& name, std::vector<VARIANT>& args) {
    return OnAsynJsEventFrom(browserId, name, args, std::string());
}

bool QNWebWndManager::OnAsynJsEventFrom(int browserId, const std::string& /*name*/, std::vector<VARIANT>& args,
                                        const std::string& origin) {
    if (args.size() < 3) return true;
    // args[0] is the callback id; args[1] the request name, args[2] its text.
    // The texts go to UTF-8 directly: a detour through the ANSI code page would
    // turn every character GBK lacks into '?'.
    std::string request = platform::VariantUtf8(args[1]);
    // A call without a request name (KXWebApp.PostCPPTask carries its callback
    // there) is no page command.
    if (request.empty()) return true;
    // Only the front-end may use the client: a page it framed or navigated to
    // must not read the machine's identity or drive voice chat. The origin is
    // the calling frame's own, carried with the call, never the view's current
    // address, which may already belong to the next page.
    if (!IsAllowedOrigin(origin)) {
        LogRefused(origin, request);
        return true;
    }
    std::string json = platform::VariantUtf8(args[2]);
    WND::IQNWebWnd* window = FindWindow(browserId);
    if (window) {
        CEFRequest req{std::move(request), std::move(json), window, CCEF3Manager::CallingDocument(browserId)};
        window->Dispatch(req);  // outside the lock: handlers may register or dispatch
    }
    return true;
}

void QNWebWndManager::AllowOrigin(const std::string& origin) {
    if (origin.empty()) return;
    std::lock_guard<std::mutex> lock(lock_);
    allowedOrigins_.insert(origin);
}

bool QNWebWndManager::IsAllowedOrigin(const std::string& origin) const {
    if (origin.empty() || origin == "null") return false;
    std::lock_guard<std::mutex> lock(lock_);
    return allowedOrigins_.count(origin) != 0;
}

void QNWebWndManager::LogRefused(const std::string& origin, const std::string& request) {
    RefusalLogBudget::Line line = refusals_.Take();
    if (!line.write) return;
    QM_LOG(kLog) << "<Quenor> page call \"" << PageTextForLog(request, kMaxLoggedBytes) << "\" from origin "
                 << (origin.empty() ? std::string("(unknown)") : PageTextForLog(origin, kMaxLoggedBytes))
                 << " refused: not the front-end" << RefusalLogBudget::SkippedNote(line.skipped);
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
