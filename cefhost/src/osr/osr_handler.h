// CCEF3OSRHandler: the render side of one windowless browser. It keeps the
// browser's last frame in a 32-bit ARGB bitmap that the host window paints,
// repaints the host window (on every frame, or from a frame-rate timer), sets
// the host window's cursor, and turns the host window's mouse, keyboard and
// focus messages into the browser's input events.
#pragma once

#include <cairo.h>

#include <mutex>
#include <vector>

#include "kxcef/cef3_handler.h"
#include "osr/fps_timer.h"

namespace kxcef {

class CCEF3OSRHandler : public CefBaseRefCounted {
public:
    CCEF3OSRHandler();

    // Host window, the browser's area in its client coordinates, frame rate.
    // A frame rate above 0 (re)starts the repaint timer at 1000 / fps ms.
    void Init(HWND host, RECT rect, int fps);
    void SetRect(RECT rect);
    RECT rect() const;
    HWND host() const;
    int fps() const;
    void SetBrowser(CefRefPtr<CefBrowser> browser);
    CefRefPtr<CefBrowser> browser() const;

    // Render callbacks (UI thread).
    // The view's place and size; false without a host window.
    bool GetViewRect(CefRect& rect) const;
    // `buffer` holds width x height pixels, rows of width * 4 bytes: the view's
    // size in device pixels (its rectangle times the host window's scale), so
    // the bitmap keeps every pixel of a scaled screen; other sizes are stale.
    void OnPaint(const std::vector<RECT>& dirtyRects, const void* buffer, int width, int height);
    // The host window's scale factor (1 without one).
    int DeviceScale() const;
    void OnCursorChange(HCURSOR cursor);

    // The bitmap, under its lock (re-entrant, like a critical section).
    OSRBitmap* Lock();
    void Unlock();

    // Input translation of one host-window message; returns DefWindowProcW's result.
    LRESULT DealInputMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    const CFPSTimer& timer() const { return timer_; }

private:
    ~CCEF3OSRHandler() override;
    static void Repaint(void* self);  // the repaint timer's callback
    void Invalidate();

    mutable std::mutex stateLock_;  // host, rect, fps, browser
    HWND host_ = nullptr;
    RECT rect_;
    int fps_ = 0;
    CefRefPtr<CefBrowser> browser_;

    std::recursive_mutex bitmapLock_;
    cairo_surface_t* bitmap_ = nullptr;
    OSRBitmap view_;

    CFPSTimer timer_;
    KXCEF_IMPLEMENT_REFCOUNTING(CCEF3OSRHandler);
};

// Event flags of the keyboard for a key message, and of the mouse for a mouse
// message (wParam's MK_* flags).
std::uint32_t KeyboardModifiers(WPARAM wParam, LPARAM lParam);
std::uint32_t MouseModifiers(WPARAM wParam);

// Times the host windows were asked to repaint by off-screen browsers.
long OsrInvalidationCount(HWND host);

}  // namespace kxcef
