#include "hooks.h"

#include <mutex>
#include <vector>

#include "runtime.h"

namespace UiLib {
namespace detail {
namespace {

struct Hook {
    HHOOK handle;
    HOOKPROC proc;
};

// Never destroyed: a control may unhook from a static destructor at exit.
struct Hooks {
    std::mutex lock;
    std::vector<Hook> list;  // newest first
};
Hooks& H() {
    static Hooks* hooks = new Hooks();
    return *hooks;
}
std::uintptr_t g_nextHook = 0x7000;

HOOKPROC ProcAfter(HHOOK hook, bool first) {
    std::lock_guard<std::mutex> lock(H().lock);
    if (first) return H().list.empty() ? nullptr : H().list.front().proc;
    for (std::size_t i = 0; i < H().list.size(); ++i) {
        if (H().list[i].handle == hook) return i + 1 < H().list.size() ? H().list[i + 1].proc : nullptr;
    }
    return nullptr;
}

}  // namespace

bool MouseHooksInstalled() {
    std::lock_guard<std::mutex> lock(H().lock);
    return !H().list.empty();
}

LRESULT CallMouseHooks(UINT message, MOUSEHOOKSTRUCT* data) {
    UILIB_ASSERT_UI_THREAD();
    HOOKPROC proc = ProcAfter(nullptr, true);
    return proc ? proc(HC_ACTION, message, reinterpret_cast<LPARAM>(data)) : 0;
}

}  // namespace detail

HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    (void)module;
    (void)threadId;
    if (idHook != WH_MOUSE || !proc) return nullptr;
    std::lock_guard<std::mutex> lock(detail::H().lock);
    HHOOK handle = reinterpret_cast<HHOOK>(detail::g_nextHook);
    detail::g_nextHook += 4;
    detail::H().list.insert(detail::H().list.begin(), detail::Hook{handle, proc});
    return handle;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    HOOKPROC next = detail::ProcAfter(hook, false);
    return next ? next(code, wParam, lParam) : 0;
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
    std::lock_guard<std::mutex> lock(detail::H().lock);
    for (auto it = detail::H().list.begin(); it != detail::H().list.end(); ++it) {
        if (it->handle == hook) {
            detail::H().list.erase(it);
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace UiLib
