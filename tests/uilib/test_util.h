// Helpers of the UI library tests: a window class that records its messages
// and finding a window's GDK side. The main loop is pumped with
// tests/support/main_loop.h, input synthesised with tests/support/gdk_events.h.
#pragma once

#include <gtk/gtk.h>

#include <vector>

#include "uilib/UiLib.h"

namespace qmtest {

struct Message {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// A raw window whose procedure records every message (then DefWindowProcW).
class RecordingWindow {
public:
    explicit RecordingWindow(const wchar_t* title = L"recorder", DWORD style = WS_POPUP, int width = 300,
                             int height = 200);
    ~RecordingWindow();
    HWND hwnd() const { return hwnd_; }
    std::vector<Message> Of(UINT message) const;
    bool Saw(UINT message) const { return !Of(message).empty(); }
    void Clear();
    static const wchar_t* kClassName;

private:
    HWND hwnd_ = nullptr;
};

// Every message recorded by RecordingWindow procedures, in order.
std::vector<Message>& Recorded();

// A window of class `className`, whose procedure is `proc` (the class is
// registered on first use). Not shown yet.
HWND CreateWindowOfClass(const wchar_t* className, WNDPROC proc, const wchar_t* title, DWORD style, int x, int y,
                         int width, int height);

GdkWindow* GdkWindowOf(HWND hwnd);
// Shows the window and waits until it is on the screen.
bool ShowAndWait(HWND hwnd);

}  // namespace qmtest
