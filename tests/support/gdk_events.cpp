#include "tests/support/gdk_events.h"

namespace qmtest {
namespace {

GdkDevice* Pointer() {
    return gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
}

GdkDevice* Keyboard() {
    return gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default()));
}

// The fields every synthesised event carries: its window, sent, now.
template <typename Event>
void Address(Event& event, GdkWindow* window) {
    event.window = GDK_WINDOW(g_object_ref(window));
    event.send_event = TRUE;
    event.time = GDK_CURRENT_TIME;
}

// A pointer event's place in the window and on the screen.
template <typename Event>
void Place(Event& event, GdkWindow* window, double x, double y) {
    Address(event, window);
    int ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    event.x = x;
    event.y = y;
    event.x_root = ox + x;
    event.y_root = oy + y;
}

void Put(GdkEvent* event, GdkDevice* device) {
    gdk_event_set_device(event, device);
    gdk_event_put(event);
    gdk_event_free(event);
}

}  // namespace

void PutKey(GdkWindow* window, guint keyval, bool press, guint state) {
    GdkEvent* event = gdk_event_new(press ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
    Address(event->key, window);
    event->key.state = state;
    event->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys,
                                          &count) &&
        count > 0) {
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        event->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    Put(event, Keyboard());
}

void PutButton(GdkWindow* window, double x, double y, guint button, bool press, guint state) {
    GdkEvent* event = gdk_event_new(press ? GDK_BUTTON_PRESS : GDK_BUTTON_RELEASE);
    Place(event->button, window, x, y);
    event->button.button = button;
    event->button.state = state;
    Put(event, Pointer());
}

void PutMotion(GdkWindow* window, double x, double y, guint state) {
    GdkEvent* event = gdk_event_new(GDK_MOTION_NOTIFY);
    Place(event->motion, window, x, y);
    event->motion.state = state;
    Put(event, Pointer());
}

void PutScroll(GdkWindow* window, double x, double y, GdkScrollDirection direction) {
    GdkEvent* event = gdk_event_new(GDK_SCROLL);
    Place(event->scroll, window, x, y);
    event->scroll.direction = direction;
    Put(event, Pointer());
}

void PutCrossing(GdkWindow* window, bool enter) {
    GdkEvent* event = gdk_event_new(enter ? GDK_ENTER_NOTIFY : GDK_LEAVE_NOTIFY);
    Address(event->crossing, window);
    event->crossing.mode = GDK_CROSSING_NORMAL;
    event->crossing.detail = GDK_NOTIFY_ANCESTOR;
    Put(event, Pointer());
}

}  // namespace qmtest
