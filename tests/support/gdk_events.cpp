#include "tests/support/gdk_events.h"

namespace qmtest {
namespace {

GdkDevice* Pointer() {
    return gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
}

GdkDevice* Keyboard() {
    return gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default()));
}

void Root(GdkWindow* window, double x, double y, double* rootX, double* rootY) {
    int ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    *rootX = ox + x;
    *rootY = oy + y;
}

void Put(GdkEvent* event, GdkDevice* device) {
    gdk_event_set_device(event, device);
    gdk_event_put(event);
    gdk_event_free(event);
}

}  // namespace

void PutKey(GdkWindow* window, guint keyval, bool press, guint state) {
    GdkEvent* event = gdk_event_new(press ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
    event->key.window = GDK_WINDOW(g_object_ref(window));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
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
    event->button.window = GDK_WINDOW(g_object_ref(window));
    event->button.send_event = TRUE;
    event->button.time = GDK_CURRENT_TIME;
    event->button.x = x;
    event->button.y = y;
    Root(window, x, y, &event->button.x_root, &event->button.y_root);
    event->button.button = button;
    event->button.state = state;
    Put(event, Pointer());
}

void PutMotion(GdkWindow* window, double x, double y, guint state) {
    GdkEvent* event = gdk_event_new(GDK_MOTION_NOTIFY);
    event->motion.window = GDK_WINDOW(g_object_ref(window));
    event->motion.send_event = TRUE;
    event->motion.time = GDK_CURRENT_TIME;
    event->motion.x = x;
    event->motion.y = y;
    Root(window, x, y, &event->motion.x_root, &event->motion.y_root);
    event->motion.state = state;
    Put(event, Pointer());
}

void PutScroll(GdkWindow* window, double x, double y, GdkScrollDirection direction) {
    GdkEvent* event = gdk_event_new(GDK_SCROLL);
    event->scroll.window = GDK_WINDOW(g_object_ref(window));
    event->scroll.send_event = TRUE;
    event->scroll.time = GDK_CURRENT_TIME;
    event->scroll.x = x;
    event->scroll.y = y;
    Root(window, x, y, &event->scroll.x_root, &event->scroll.y_root);
    event->scroll.direction = direction;
    Put(event, Pointer());
}

void PutCrossing(GdkWindow* window, bool enter) {
    GdkEvent* event = gdk_event_new(enter ? GDK_ENTER_NOTIFY : GDK_LEAVE_NOTIFY);
    event->crossing.window = GDK_WINDOW(g_object_ref(window));
    event->crossing.send_event = TRUE;
    event->crossing.time = GDK_CURRENT_TIME;
    event->crossing.mode = GDK_CROSSING_NORMAL;
    event->crossing.detail = GDK_NOTIFY_ANCESTOR;
    Put(event, Pointer());
}

}  // namespace qmtest
