// The web view of a windowless browser, living in an off-screen window: its
// repaints are copied out as frames, its cursor changes are reported, and
// input reaches it as synthesised GDK events. UI thread only.
#pragma once

#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "kxcef/cef_browser.h"

namespace kxcef {

class OffscreenView {
public:
    // A frame: the rectangles that changed, and the whole view's pixels
    // (32-bit ARGB, rows of width * 4 bytes), valid during the call. Both are
    // in device pixels: the view's size times the screen's scale.
    using FrameSink = std::function<void(const std::vector<RECT>& dirty, const void* pixels, int width, int height)>;
    using CursorSink = std::function<void(HCURSOR cursor)>;

    // Puts `view` into a new off-screen window of width x height (at least 1 x 1).
    OffscreenView(WebKitWebView* view, int width, int height, FrameSink frames, CursorSink cursors);
    ~OffscreenView();
    OffscreenView(const OffscreenView&) = delete;
    OffscreenView& operator=(const OffscreenView&) = delete;

    void Resize(int width, int height);
    void SetVisible(bool visible);

    void SendFocus(bool focus);
    void SendKey(const CefKeyEvent& event);
    void SendMouseClick(const CefMouseEvent& event, cef_mouse_button_type_t button, bool up, int clickCount);
    void SendMouseMove(const CefMouseEvent& event, bool leave);
    void SendMouseWheel(const CefMouseEvent& event, int deltaX, int deltaY);

private:
    // Stops frames, cursor reports and queued work (before destruction).
    void Detach();
    static gboolean OnDamage(GtkWidget* widget, GdkEventExpose* event, gpointer self);
    static gboolean OnGrab(gpointer self);
    static void OnCursorNotify(GObject* window, GParamSpec*, gpointer self);
    static void OnRealize(GtkWidget* widget, gpointer self);
    void WatchCursor();
    void Grab();
    std::uint32_t NextTime(bool newClick);
    void PostKey(GdkEventType type, guint keyval, guint16 keycode, guint state);
    void FlushKeyDown();
    static gboolean OnKeyFlush(gpointer self);
    GdkWindow* ViewWindow() const;

    WebKitWebView* view_;
    GtkWidget* window_ = nullptr;
    FrameSink frames_;
    CursorSink cursors_;
    cairo_region_t* pending_ = nullptr;  // damage not yet copied out
    guint grabSource_ = 0;
    cairo_surface_t* staging_ = nullptr;  // the whole view, ARGB32, stride width * 4
    std::vector<unsigned char> stagingData_;
    int stagingWidth_ = 0;
    int stagingHeight_ = 0;
    GdkWindow* cursorWindow_ = nullptr;  // the view's window whose cursor is watched
    gulong cursorHandler_ = 0;

    // Input state.
    bool pointerInside_ = false;
    std::uint32_t lastTime_ = 0;       // synthetic event clock (ms)
    std::uint32_t lastPressTime_ = 0;
    struct PendingKey {
        guint keyval = 0;
        guint16 keycode = 0;
        guint state = 0;
    };
    PendingKey pendingDown_;  // a key press waiting for its character
    std::map<guint16, guint> pressed_;  // key values of the keys down, by key code
    guint keyFlush_ = 0;
    std::uint32_t highSurrogate_ = 0;
};

}  // namespace kxcef
