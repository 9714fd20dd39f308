// SIGTERM / SIGINT become a message to a window, handled on the UI thread.
#include <glib-unix.h>

#include <csignal>
#include <mutex>

#include "message_queue.h"
#include "uilib/win32.h"

namespace UiLib {
namespace {

std::mutex g_lock;
HWND g_target = nullptr;
UINT g_message = 0;
bool g_installed = false;

gboolean OnSignal(gpointer) {
    HWND target;
    UINT message;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        target = g_target;
        message = g_message;
    }
    if (target) PostMessageW(target, message, 0, 0);
    return G_SOURCE_CONTINUE;
}

}  // namespace

void PostMessageOnTerminationSignal(HWND hwnd, UINT message) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_target = hwnd;
    g_message = message;
    if (g_installed) return;
    g_installed = true;
    detail::EnsureMessageSource();
    g_unix_signal_add(SIGTERM, OnSignal, nullptr);
    g_unix_signal_add(SIGINT, OnSignal, nullptr);
}

}  // namespace UiLib
