// The GTK runtime of the library: lazy start-up on the first thread that needs
// it (that thread becomes the UI thread), and small shared helpers.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "platform/thread_rule.h"
#include "uilib/win32.h"

namespace UiLib {
namespace detail {

// Starts GTK on the calling thread unless it runs already, on the session's
// display (Wayland or X11, as GTK chooses). False when no display can be
// opened; nothing that needs GTK may run then.
bool EnsureGtk();
bool GtkReady();
// The thread that started GTK (or that first ran the message loop, or started
// the engine): the process's one record (platform/thread_rule.h).
bool IsUiThread();
bool HasUiThread();
void ClaimUiThread();

// Monotonic milliseconds.
std::int64_t NowMs();

// One line on the debugger output channel, tagged "<UiLib>".
void Log(const std::string& text);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::wstring FromUtf8(const char* text);

// The folder of `module` (the main program when null), where skins and icons live.
std::wstring ModuleDir(HINSTANCE module);

}  // namespace detail
}  // namespace UiLib

// At the top of a function that runs only on the UI thread (checked in debug
// builds). Before any thread claimed GTK every thread may still become it.
#define UILIB_ASSERT_UI_THREAD() QM_ASSERT_UI_THREAD()
