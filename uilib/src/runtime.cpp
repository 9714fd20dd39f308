#include "runtime.h"

#include <atomic>

#include "platform/debug_output.h"
#include "platform/dynlib.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "event_router.h"
#include "message_queue.h"
#include "x11_bridge.h"

namespace UiLib {
namespace detail {
namespace {

std::atomic<int> g_gtkState{0};  // 0 not tried, 1 running, -1 no display

}  // namespace

void ClaimUiThread() { platform::ClaimUiThread(); }

bool IsUiThread() { return platform::IsUiThread(); }

bool HasUiThread() { return platform::HasUiThread(); }

bool GtkReady() { return g_gtkState == 1; }

bool EnsureGtk() {
    int state = g_gtkState.load();
    if (state != 0) return state == 1;
    if (HasUiThread() && !IsUiThread()) return false;
    // Another part of the process (the browser host) may have started GTK
    // already. GTK picks the session's own display: Wayland where the session
    // is Wayland, X11 where it is X11.
    if (gdk_display_get_default() == nullptr && !gtk_init_check(nullptr, nullptr)) {
        g_gtkState = -1;
        Log("no display: windows cannot be created");
        return false;
    }
    ClaimUiThread();
    g_gtkState = 1;
    EnsureMessageSource();
    InstallEventRouter();
    if (x11::DisplayIsX11()) x11::InstallClientMessageFilter();
    return true;
}

std::int64_t NowMs() { return g_get_monotonic_time() / 1000; }

// Texts here are UTF-8 (class names, skin paths), not the ANSI code page;
// a path that is not valid UTF-8 still gives a line.
void Log(const std::string& text) { platform::OutputDebugStringW(platform::Utf8ToWideLenient("<UiLib> " + text)); }

std::string ToUtf8(const std::wstring& text) { return platform::WideToUtf8(text); }
std::wstring FromUtf8(const std::string& text) { return platform::Utf8ToWide(text); }
std::wstring FromUtf8(const char* text) { return text ? platform::Utf8ToWide(text) : std::wstring(); }

std::wstring ModuleDir(HINSTANCE module) {
    std::wstring path = platform::ModuleFilePath(module ? module : platform::MainModule());
    if (path.empty()) path = platform::ExecutablePath();
    return platform::DirPart(path);
}

}  // namespace detail
}  // namespace UiLib
