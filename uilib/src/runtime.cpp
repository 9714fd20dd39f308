#include "runtime.h"

#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/debug_output.h"
#include "platform/text.h"
#include "event_router.h"
#include "message_queue.h"
#include "x11_bridge.h"

namespace UiLib {
namespace detail {
namespace {

std::mutex g_threadLock;
std::thread::id g_uiThread;
bool g_hasUiThread = false;
int g_gtkState = 0;  // 0 not tried, 1 running, -1 no display

// The client runs on X11 only: window lookup by class and title, cross-process
// messages and the tray all need it. Set before anything can start GDK.
__attribute__((constructor)) void ForceX11Backend() {
    if (!std::getenv("GDK_BACKEND")) setenv("GDK_BACKEND", "x11", 0);
}

}  // namespace

void ClaimUiThread() {
    std::lock_guard<std::mutex> lock(g_threadLock);
    if (!g_hasUiThread) {
        g_uiThread = std::this_thread::get_id();
        g_hasUiThread = true;
    }
}

bool IsUiThread() {
    std::lock_guard<std::mutex> lock(g_threadLock);
    return g_hasUiThread && g_uiThread == std::this_thread::get_id();
}

bool HasUiThread() {
    std::lock_guard<std::mutex> lock(g_threadLock);
    return g_hasUiThread;
}

bool GtkReady() { return g_gtkState == 1; }

bool EnsureGtk() {
    if (g_gtkState != 0) return g_gtkState == 1;
    if (HasUiThread() && !IsUiThread()) return false;
    // Another part of the process (the browser host) may have started GTK already.
    if (gdk_display_get_default() == nullptr) {
        gdk_set_allowed_backends("x11");
        if (!gtk_init_check(nullptr, nullptr)) {
            g_gtkState = -1;
            Log("no X display: windows cannot be created");
            return false;
        }
    }
    if (!x11::DisplayIsX11()) {
        g_gtkState = -1;
        Log("the display is not an X11 display: windows cannot be created");
        return false;
    }
    ClaimUiThread();
    g_gtkState = 1;
    EnsureMessageSource();
    InstallEventRouter();
    x11::InstallClientMessageFilter();
    return true;
}

std::int64_t NowMs() { return g_get_monotonic_time() / 1000; }

void Log(const std::string& text) { platform::OutputDebugStringA("<UiLib> " + text); }

std::string ToUtf8(const std::wstring& text) { return platform::WideToUtf8(text); }
std::wstring FromUtf8(const std::string& text) { return platform::Utf8ToWide(text); }
std::wstring FromUtf8(const char* text) { return text ? platform::Utf8ToWide(text) : std::wstring(); }

}  // namespace detail
}  // namespace UiLib
