// One tray icon as an XEmbed icon (GtkStatusIcon): what panels without a
// StatusNotifierItem host embed. UI thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace UiLib {
namespace detail {

class XEmbedIcon {
public:
    // Button presses and releases as Windows mouse messages (WM_LBUTTONDOWN ...).
    using Clicks = std::function<void(unsigned mouseMessage)>;

    XEmbedIcon(const std::string& title, Clicks clicks);
    ~XEmbedIcon();
    XEmbedIcon(const XEmbedIcon&) = delete;
    XEmbedIcon& operator=(const XEmbedIcon&) = delete;

    // `picture` at 1x, `doubled` at twice the pixels (may be null); null
    // `picture` keeps the place with a transparent picture.
    void SetPicture(GdkPixbuf* picture, GdkPixbuf* doubled);
    void SetTooltip(const std::string& text);
    bool embedded() const;
    // Screen rectangle while embedded.
    bool Geometry(GdkRectangle& area) const;

private:
    static gboolean OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer self);
    static gboolean OnButtonRelease(GtkStatusIcon*, GdkEventButton* event, gpointer self);

    GtkStatusIcon* icon_;
    Clicks clicks_;
};

}  // namespace detail
}  // namespace UiLib
