#include "osr/offscreen_view.h"

#include <algorithm>
#include <cstdlib>

#include "osr/gdk_keys.h"
#include "ui_thread.h"
#include "uilib/keys.h"
#include "uilib/native.h"

namespace kxcef {
namespace {

constexpr int kWheelDelta = 120;

// Cursor names the engine asks for; the display hands out one cursor object
// per name, so the view's cursor is recognised by identity.
const char* const kCursorNames[] = {
    "default",    "pointer",     "text",        "wait",        "progress",     "crosshair",   "move",
    "not-allowed", "help",       "grab",        "grabbing",    "ew-resize",    "ns-resize",   "nesw-resize",
    "nwse-resize", "col-resize", "row-resize",  "n-resize",    "e-resize",     "s-resize",    "w-resize",
    "ne-resize",  "nw-resize",   "se-resize",   "sw-resize",   "context-menu", "cell",        "vertical-text",
    "alias",      "copy",        "no-drop",     "all-scroll",  "zoom-in",      "zoom-out",    "none",
};

GdkDevice* Pointer() {
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    return seat ? gdk_seat_get_pointer(seat) : nullptr;
}

GdkDevice* Keyboard() {
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    return seat ? gdk_seat_get_keyboard(seat) : nullptr;
}

guint DoubleClickTime() {
    int value = 400;
    if (GtkSettings* settings = gtk_settings_get_default()) g_object_get(settings, "gtk-double-click-time", &value, nullptr);
    return static_cast<guint>(std::max(value, 1));
}

guint ButtonNumber(cef_mouse_button_type_t button) {
    switch (button) {
    case MBT_MIDDLE: return 2;
    case MBT_RIGHT: return 3;
    default: return 1;
    }
}

guint ButtonMask(guint button) {
    switch (button) {
    case 2: return GDK_BUTTON2_MASK;
    case 3: return GDK_BUTTON3_MASK;
    default: return GDK_BUTTON1_MASK;
    }
}

void Deliver(GtkWidget* widget, GdkEvent* event, GdkDevice* device) {
    if (device) {
        gdk_event_set_device(event, device);
        gdk_event_set_source_device(event, device);
    }
    gtk_widget_event(widget, event);
    gdk_event_free(event);
}

// The fields every pointer event shares (button, motion, crossing, scroll):
// over `window` at the mouse's place, with its modifiers and buttons held.
template <typename PointerEvent>
void Place(PointerEvent& event, GdkWindow* window, guint32 time, const CefMouseEvent& mouse) {
    event.window = GDK_WINDOW(g_object_ref(window));
    event.send_event = FALSE;
    event.time = time;
    event.x = mouse.x;
    event.y = mouse.y;
    event.x_root = mouse.x;
    event.y_root = mouse.y;
    event.state = StateFromEventFlags(mouse.modifiers);
}

}  // namespace

OffscreenView::OffscreenView(WebKitWebView* view, int width, int height, FrameSink frames, CursorSink cursors)
    : view_(view), frames_(std::move(frames)), cursors_(std::move(cursors)) {
    KX_ASSERT_UI_THREAD();
    window_ = gtk_offscreen_window_new();
    g_object_ref_sink(window_);
    width = std::max(1, width);
    height = std::max(1, height);
    gtk_window_set_default_size(GTK_WINDOW(window_), width, height);
    // Workaround (GTK 3.24.38): focusing a window with a mnemonic modifier
    // asks an input device about the pointer over it, and an off-screen
    // window has no place for that. Without the modifier nothing asks. Can go
    // once focusing an off-screen window no longer queries the pointer.
    gtk_window_set_mnemonic_modifier(GTK_WINDOW(window_), static_cast<GdkModifierType>(0));
    gtk_widget_set_size_request(GTK_WIDGET(view_), width, height);
    gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
    g_signal_connect(window_, "damage-event", G_CALLBACK(&OffscreenView::OnDamage), this);
    g_signal_connect(view_, "realize", G_CALLBACK(&OffscreenView::OnRealize), this);
    gtk_widget_show_all(window_);
    gtk_widget_grab_focus(GTK_WIDGET(view_));
    WatchCursor();
}

OffscreenView::~OffscreenView() {
    KX_ASSERT_UI_THREAD();
    Detach();
    if (window_) {
        gtk_widget_destroy(window_);
        g_object_unref(window_);
    }
    if (staging_) cairo_surface_destroy(staging_);
}

void OffscreenView::Detach() {
    if (keyFlush_) {
        g_source_remove(keyFlush_);
        keyFlush_ = 0;
    }
    pendingDown_ = PendingKey();
    frames_ = nullptr;
    cursors_ = nullptr;
    if (grabSource_) {
        g_source_remove(grabSource_);
        grabSource_ = 0;
    }
    if (pending_) {
        cairo_region_destroy(pending_);
        pending_ = nullptr;
    }
    if (cursorWindow_) {
        g_signal_handler_disconnect(cursorWindow_, cursorHandler_);
        g_object_unref(cursorWindow_);
        cursorWindow_ = nullptr;
    }
    if (window_) g_signal_handlers_disconnect_by_data(window_, this);
    if (view_) g_signal_handlers_disconnect_by_data(view_, this);
}

void OffscreenView::Resize(int width, int height) {
    KX_ASSERT_UI_THREAD();
    width = std::max(1, width);
    height = std::max(1, height);
    // The off-screen window is at least its default size: both follow.
    gtk_window_set_default_size(GTK_WINDOW(window_), width, height);
    gtk_widget_set_size_request(GTK_WIDGET(view_), width, height);
    gtk_window_resize(GTK_WINDOW(window_), width, height);
}

void OffscreenView::SetVisible(bool visible) {
    KX_ASSERT_UI_THREAD();
    gtk_widget_set_visible(GTK_WIDGET(view_), visible);
}

// --- Frames ---------------------------------------------------------------------

gboolean OffscreenView::OnDamage(GtkWidget*, GdkEventExpose* event, gpointer data) {
    auto* self = static_cast<OffscreenView*>(data);
    if (!self->frames_) return FALSE;
    if (!self->pending_) self->pending_ = cairo_region_create();
    if (event->region) cairo_region_union(self->pending_, event->region);
    else cairo_region_union_rectangle(self->pending_, &event->area);
    // Damage comes in pieces during one repaint: copy once the repaint is over.
    if (!self->grabSource_)
        self->grabSource_ = g_idle_add_full(GDK_PRIORITY_REDRAW + 10, &OffscreenView::OnGrab, self, nullptr);
    return FALSE;
}

gboolean OffscreenView::OnGrab(gpointer data) {
    auto* self = static_cast<OffscreenView*>(data);
    self->grabSource_ = 0;
    self->Grab();
    return G_SOURCE_REMOVE;
}

void OffscreenView::Grab() {
    KX_ASSERT_UI_THREAD();
    cairo_region_t* damage = pending_;
    pending_ = nullptr;
    if (!damage) return;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    cairo_surface_t* surface = gtk_offscreen_window_get_surface(GTK_OFFSCREEN_WINDOW(window_));
    if (!gdkWindow || !surface || !frames_) {
        cairo_region_destroy(damage);
        return;
    }
    // Frames are in device pixels: at a screen scale of 2 the view renders, and
    // is copied out, at twice its size.
    int scale = std::max(1, gdk_window_get_scale_factor(gdkWindow));
    int logicalWidth = gdk_window_get_width(gdkWindow);
    int logicalHeight = gdk_window_get_height(gdkWindow);
    if (logicalWidth <= 0 || logicalHeight <= 0) {
        cairo_region_destroy(damage);
        return;
    }
    int width = logicalWidth * scale, height = logicalHeight * scale;
    cairo_rectangle_int_t whole{0, 0, logicalWidth, logicalHeight};
    if (!staging_ || stagingWidth_ != width || stagingHeight_ != height) {
        // A new size: the whole view is copied into a fresh frame.
        if (staging_) cairo_surface_destroy(staging_);
        stagingData_.assign(static_cast<size_t>(width) * height * 4, 0);
        staging_ = cairo_image_surface_create_for_data(stagingData_.data(), CAIRO_FORMAT_ARGB32, width, height,
                                                       width * 4);
        stagingWidth_ = width;
        stagingHeight_ = height;
        cairo_region_union_rectangle(damage, &whole);
    }
    cairo_region_intersect_rectangle(damage, &whole);
    if (cairo_region_is_empty(damage)) {
        cairo_region_destroy(damage);
        return;
    }
    // The damage is in the view's (logical) coordinates, as is the source surface.
    cairo_t* cr = cairo_create(staging_);
    cairo_scale(cr, scale, scale);
    gdk_cairo_region(cr, damage);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(staging_);

    std::vector<RECT> dirty;
    int count = cairo_region_num_rectangles(damage);
    dirty.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        cairo_rectangle_int_t r;
        cairo_region_get_rectangle(damage, i, &r);
        RECT rect;
        rect.left = r.x * scale;
        rect.top = r.y * scale;
        rect.right = (r.x + r.width) * scale;
        rect.bottom = (r.y + r.height) * scale;
        dirty.push_back(rect);
    }
    cairo_region_destroy(damage);
    FrameSink sink = frames_;
    sink(dirty, stagingData_.data(), width, height);
}

// --- Cursor -----------------------------------------------------------------------

void OffscreenView::OnRealize(GtkWidget*, gpointer data) { static_cast<OffscreenView*>(data)->WatchCursor(); }

void OffscreenView::WatchCursor() {
    GdkWindow* window = ViewWindow();
    if (!window || window == cursorWindow_) return;
    if (cursorWindow_) {
        g_signal_handler_disconnect(cursorWindow_, cursorHandler_);
        g_object_unref(cursorWindow_);
    }
    cursorWindow_ = GDK_WINDOW(g_object_ref(window));
    cursorHandler_ = g_signal_connect(window, "notify::cursor", G_CALLBACK(&OffscreenView::OnCursorNotify), this);
}

void OffscreenView::OnCursorNotify(GObject* window, GParamSpec*, gpointer data) {
    auto* self = static_cast<OffscreenView*>(data);
    if (!self->cursors_) return;
    GdkCursor* cursor = gdk_window_get_cursor(GDK_WINDOW(window));
    const char* name = "default";
    if (cursor) {
        GdkDisplay* display = gdk_window_get_display(GDK_WINDOW(window));
        for (const char* candidate : kCursorNames) {
            GdkCursor* known = gdk_cursor_new_from_name(display, candidate);
            bool same = known == cursor;
            if (known) g_object_unref(known);
            if (same) {
                name = candidate;
                break;
            }
        }
    }
    CursorSink sink = self->cursors_;
    sink(UiLib::Native::CursorFromName(name));
}

GdkWindow* OffscreenView::ViewWindow() const {
    return view_ ? gtk_widget_get_window(GTK_WIDGET(view_)) : nullptr;
}

// --- Input ------------------------------------------------------------------------

std::uint32_t OffscreenView::NextTime(bool newClick) {
    std::uint32_t now = static_cast<std::uint32_t>(g_get_monotonic_time() / 1000);
    std::uint32_t t = std::max(now, lastTime_ + 1);
    // Workaround (WebKitGTK 2.50.6): the engine counts clicks itself from the
    // events' times and places and ignores GDK's click count, so two separate
    // synthetic clicks close in time became a double click. A first click
    // gets a time far from the one before. Can go once the engine takes the
    // click count from the event.
    if (newClick && t - lastPressTime_ <= DoubleClickTime()) t = lastPressTime_ + DoubleClickTime() + 1;
    lastTime_ = t;
    return t;
}

void OffscreenView::SendFocus(bool focus) {
    KX_ASSERT_UI_THREAD();
    FlushKeyDown();
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (!gdkWindow) return;
    if (focus) gtk_widget_grab_focus(GTK_WIDGET(view_));
    GdkEvent* event = gdk_event_new(GDK_FOCUS_CHANGE);
    event->focus_change.window = GDK_WINDOW(g_object_ref(gdkWindow));
    event->focus_change.send_event = TRUE;
    event->focus_change.in = focus ? TRUE : FALSE;
    if (GdkDevice* keyboard = Keyboard()) gdk_event_set_device(event, keyboard);
    // The window becomes the active one and hands the focus to the view.
    gtk_widget_send_focus_change(window_, event);
    gdk_event_free(event);
}

void OffscreenView::PostKey(GdkEventType type, guint keyval, guint16 keycode, guint state) {
    KX_ASSERT_UI_THREAD();
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (!gdkWindow) return;
    GdkEvent* event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(gdkWindow));
    event->key.send_event = FALSE;
    event->key.time = NextTime(false);
    event->key.state = state;
    event->key.keyval = keyval;
    event->key.hardware_keycode = keycode;
    event->key.group = 0;
    event->key.is_modifier = UiLib::Keys::IsModifierKeyval(keyval) ? 1 : 0;
    Deliver(window_, event, Keyboard());
}

void OffscreenView::FlushKeyDown() {
    if (keyFlush_) {
        g_source_remove(keyFlush_);
        keyFlush_ = 0;
    }
    if (!pendingDown_.keyval) return;
    PendingKey down = pendingDown_;
    pendingDown_ = PendingKey();
    if (down.keycode) pressed_[down.keycode] = down.keyval;
    PostKey(GDK_KEY_PRESS, down.keyval, down.keycode, down.state);
}

gboolean OffscreenView::OnKeyFlush(gpointer data) {
    auto* self = static_cast<OffscreenView*>(data);
    self->keyFlush_ = 0;
    self->FlushKeyDown();
    return G_SOURCE_REMOVE;
}

void OffscreenView::SendKey(const CefKeyEvent& key) {
    KX_ASSERT_UI_THREAD();
    GdkModifierType state = StateFromEventFlags(key.modifiers);
    if (key.type == KEYEVENT_CHAR) {
        std::uint32_t ch = key.character ? static_cast<std::uint32_t>(key.character)
                                         : static_cast<std::uint32_t>(key.windows_key_code);
        bool printable = ch >= 0x20 && ch != 0x7F && !(ch >= 0xD800 && ch <= 0xDFFF);
        if (ch >= 0xD800 && ch <= 0xDBFF) {
            highSurrogate_ = ch;
            return;
        }
        if (ch >= 0xDC00 && ch <= 0xDFFF && highSurrogate_) {
            ch = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (ch - 0xDC00);
            printable = true;
        }
        highSurrogate_ = 0;
        if (pendingDown_.keyval) {
            // The key press types the character the keyboard made of it.
            if (printable) pendingDown_.keyval = gdk_unicode_to_keyval(ch);
            FlushKeyDown();
            return;
        }
        // Text without a key press of its own (composed input): press and release.
        if (!printable) return;
        guint keyval = gdk_unicode_to_keyval(ch);
        guint16 keycode = UiLib::Keys::KeycodeOfKeyval(keyval);
        PostKey(GDK_KEY_PRESS, keyval, keycode, state);
        PostKey(GDK_KEY_RELEASE, keyval, keycode, state);
        return;
    }

    FlushKeyDown();
    // The key's place on the keyboard (the scan code of the native key code)
    // decides its meaning; the virtual key stands in when there is none.
    guint16 keycode = 0;
    unsigned scan = (static_cast<unsigned>(key.native_key_code) >> 16) & 0xFF;
    if (scan) keycode = static_cast<guint16>(scan + 8);
    guint keyval = 0;
    if (keycode) {
        GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
        if (!gdk_keymap_translate_keyboard_state(keymap, keycode, state, 0, &keyval, nullptr, nullptr, nullptr))
            keyval = 0;
    }
    if (!keyval) {
        keyval = UiLib::Keys::KeyvalOfVirtualKey(key.windows_key_code, (key.modifiers & EVENTFLAG_SHIFT_DOWN) != 0);
        if (!keyval) return;
        keycode = UiLib::Keys::KeycodeOfKeyval(keyval);
    }
    if (key.type == KEYEVENT_KEYUP) {
        // A key goes up as what it went down as.
        auto it = keycode ? pressed_.find(keycode) : pressed_.end();
        if (it != pressed_.end()) {
            keyval = it->second;
            pressed_.erase(it);
        }
        PostKey(GDK_KEY_RELEASE, keyval, keycode, state);
        return;
    }
    // A key press waits for the character message that may follow it, which
    // says what the key typed; without one it goes as it is.
    pendingDown_.keyval = keyval;
    pendingDown_.keycode = keycode;
    pendingDown_.state = state;
    keyFlush_ = g_idle_add_full(G_PRIORITY_HIGH, &OffscreenView::OnKeyFlush, this, nullptr);
}

void OffscreenView::SendMouseClick(const CefMouseEvent& mouse, cef_mouse_button_type_t button, bool up,
                                   int clickCount) {
    KX_ASSERT_UI_THREAD();
    FlushKeyDown();
    GdkWindow* viewWindow = ViewWindow();
    if (!viewWindow) return;
    guint number = ButtonNumber(button);
    GdkEventType type = GDK_BUTTON_RELEASE;
    if (!up) type = clickCount >= 3 ? GDK_3BUTTON_PRESS : clickCount == 2 ? GDK_2BUTTON_PRESS : GDK_BUTTON_PRESS;
    GdkEvent* event = gdk_event_new(type);
    Place(event->button, viewWindow, NextTime(!up && clickCount <= 1), mouse);
    if (!up) lastPressTime_ = event->button.time;
    // GDK's state is the one before the event: a press lacks its own button, a release has it.
    guint state = event->button.state;
    event->button.state = up ? (state | ButtonMask(number)) : (state & ~ButtonMask(number));
    event->button.button = number;
    Deliver(GTK_WIDGET(view_), event, Pointer());
}

void OffscreenView::SendMouseMove(const CefMouseEvent& mouse, bool leave) {
    KX_ASSERT_UI_THREAD();
    GdkWindow* viewWindow = ViewWindow();
    if (!viewWindow) return;
    if (leave || !pointerInside_) {
        if (leave && !pointerInside_) return;
        GdkEvent* event = gdk_event_new(leave ? GDK_LEAVE_NOTIFY : GDK_ENTER_NOTIFY);
        Place(event->crossing, viewWindow, NextTime(false), mouse);
        event->crossing.subwindow = nullptr;
        event->crossing.mode = GDK_CROSSING_NORMAL;
        event->crossing.detail = GDK_NOTIFY_NONLINEAR;
        event->crossing.focus = FALSE;
        pointerInside_ = !leave;
        Deliver(GTK_WIDGET(view_), event, Pointer());
        if (leave) return;
    }
    GdkEvent* event = gdk_event_new(GDK_MOTION_NOTIFY);
    Place(event->motion, viewWindow, NextTime(false), mouse);
    event->motion.is_hint = FALSE;
    Deliver(GTK_WIDGET(view_), event, Pointer());
}

void OffscreenView::SendMouseWheel(const CefMouseEvent& mouse, int deltaX, int deltaY) {
    KX_ASSERT_UI_THREAD();
    GdkWindow* viewWindow = ViewWindow();
    if (!viewWindow || (deltaX == 0 && deltaY == 0)) return;
    auto scroll = [&](GdkScrollDirection direction, double dx, double dy) {
        GdkEvent* event = gdk_event_new(GDK_SCROLL);
        Place(event->scroll, viewWindow, NextTime(false), mouse);
        event->scroll.state &= ~GDK_SHIFT_MASK;
        event->scroll.direction = direction;
        event->scroll.delta_x = dx;
        event->scroll.delta_y = dy;
        Deliver(GTK_WIDGET(view_), event, Pointer());
    };
    // Whole notches go as wheel clicks, anything finer as a smooth scroll.
    // A positive delta turns the wheel away from the user: up, or left.
    if (deltaX % kWheelDelta == 0 && deltaY % kWheelDelta == 0) {
        for (int i = 0; i < std::abs(deltaY) / kWheelDelta; ++i) scroll(deltaY > 0 ? GDK_SCROLL_UP : GDK_SCROLL_DOWN, 0, 0);
        for (int i = 0; i < std::abs(deltaX) / kWheelDelta; ++i)
            scroll(deltaX > 0 ? GDK_SCROLL_LEFT : GDK_SCROLL_RIGHT, 0, 0);
        return;
    }
    scroll(GDK_SCROLL_SMOOTH, -static_cast<double>(deltaX) / kWheelDelta, -static_cast<double>(deltaY) / kWheelDelta);
}

}  // namespace kxcef
