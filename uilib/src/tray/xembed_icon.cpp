#include "tray/xembed_icon.h"

#include "icons.h"
#include "platform/win_types.h"

// GtkStatusIcon is deprecated in favour of desktop-specific indicators, but it
// is the XEmbed tray icon that every tray host (trayer included) embeds.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace UiLib {
namespace detail {

XEmbedIcon::XEmbedIcon(const std::string& title, Clicks clicks) : icon_(gtk_status_icon_new()), clicks_(std::move(clicks)) {
    gtk_status_icon_set_title(icon_, title.c_str());
    g_signal_connect(icon_, "button-press-event", G_CALLBACK(&XEmbedIcon::OnButtonPress), this);
    g_signal_connect(icon_, "button-release-event", G_CALLBACK(&XEmbedIcon::OnButtonRelease), this);
    SetPicture(nullptr, nullptr);
    gtk_status_icon_set_visible(icon_, TRUE);
}

XEmbedIcon::~XEmbedIcon() {
    g_signal_handlers_disconnect_by_data(icon_, this);
    gtk_status_icon_set_visible(icon_, FALSE);
    g_object_unref(icon_);
}

void XEmbedIcon::SetPicture(GdkPixbuf* picture, GdkPixbuf* doubled) {
    if (!picture) {
        gtk_status_icon_set_from_pixbuf(icon_, BlankPixbuf());
        return;
    }
    // As an icon (GIcon) the picture is fitted to the tray's size in device
    // pixels: the doubled one keeps every pixel at a scale of 2.
    gtk_status_icon_set_from_gicon(icon_, G_ICON(doubled ? doubled : picture));
}

void XEmbedIcon::SetTooltip(const std::string& text) {
    gtk_status_icon_set_tooltip_text(icon_, text.empty() ? nullptr : text.c_str());
}

bool XEmbedIcon::embedded() const { return gtk_status_icon_is_embedded(icon_); }

bool XEmbedIcon::Geometry(GdkRectangle& area) const {
    return embedded() && gtk_status_icon_get_geometry(icon_, nullptr, &area, nullptr);
}

gboolean XEmbedIcon::OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<XEmbedIcon*>(data);
    if (event->type != GDK_BUTTON_PRESS) return FALSE;
    if (event->button == 1) self->clicks_(WM_LBUTTONDOWN);
    if (event->button == 3) self->clicks_(WM_RBUTTONDOWN);
    return FALSE;
}

gboolean XEmbedIcon::OnButtonRelease(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<XEmbedIcon*>(data);
    if (event->button == 1) self->clicks_(WM_LBUTTONUP);
    if (event->button == 3) self->clicks_(WM_RBUTTONUP);
    return FALSE;
}

}  // namespace detail
}  // namespace UiLib

G_GNUC_END_IGNORE_DEPRECATIONS
