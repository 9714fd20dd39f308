// Desktop settings: double-click limits from the toolkit settings, screen and work area.
#include "geometry.h"
#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"

namespace UiLib {

using namespace detail;

namespace {
constexpr int kDefaultDoubleClickTime = 400;
constexpr int kDefaultDoubleClickDistance = 5;

int SettingInt(const char* name, int fallback) {
    if (!EnsureGtk()) return fallback;
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings) return fallback;
    int value = fallback;
    g_object_get(settings, name, &value, nullptr);
    return value > 0 ? value : fallback;
}
}  // namespace

UINT GetDoubleClickTime() {
    return OnUiThread([] { return static_cast<UINT>(SettingInt("gtk-double-click-time", kDefaultDoubleClickTime)); });
}

int GetSystemMetrics(int index) {
    return OnUiThread([&]() -> int {
        switch (index) {
        case SM_CXDOUBLECLK:
        case SM_CYDOUBLECLK:
            // GTK's distance is how far a second click may stray; Windows gives
            // the width of the box around the first click.
            return 2 * SettingInt("gtk-double-click-distance", kDefaultDoubleClickDistance);
        case SM_CXSCREEN:
        case SM_CYSCREEN: {
            if (!EnsureGtk()) return 0;
            GdkMonitor* monitor = gdk_display_get_primary_monitor(gdk_display_get_default());
            if (!monitor) monitor = gdk_display_get_monitor(gdk_display_get_default(), 0);
            if (!monitor) return 0;
            GdkRectangle geometry;
            gdk_monitor_get_geometry(monitor, &geometry);
            return index == SM_CXSCREEN ? geometry.width : geometry.height;
        }
        default:
            return 0;
        }
    });
}

BOOL SystemParametersInfoW(UINT action, UINT param, void* out, UINT winIni) {
    (void)param;
    (void)winIni;
    if (action != SPI_GETWORKAREA || !out) return FALSE;
    return OnUiThread([&]() -> BOOL {
        if (!EnsureGtk()) return FALSE;
        *static_cast<RECT*>(out) = WorkAreaFor(nullptr);
        return TRUE;
    });
}

}  // namespace UiLib
