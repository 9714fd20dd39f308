// Helpers of the UI library tests: bounded pumping of the main loop, a window
// class that records its messages, and synthesised GDK input events.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <vector>

#include "uilib/UiLib.h"

namespace uitest {

// Runs the main loop until `done` holds or `timeoutMs` passed; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the main loop for about `ms` milliseconds.
void Pump(int ms);

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

GdkWindow* GdkWindowOf(HWND hwnd);
// Shows the window and waits until it is on the screen.
bool ShowAndWait(HWND hwnd);

// Synthesised events, queued like events from the X server.
void PutKey(GdkWindow* window, guint keyval, bool press, guint state = 0);
void PutButton(GdkWindow* window, double x, double y, guint button, bool press, guint state = 0);
void PutMotion(GdkWindow* window, double x, double y, guint state = 0);
void PutScroll(GdkWindow* window, double x, double y, GdkScrollDirection direction);
void PutCrossing(GdkWindow* window, bool enter);

}  // namespace uitest
