#include "browser/spare_view.h"

#include "browser/browser.h"
#include "engine/engine_state.h"
#include "engine/profile.h"
#include "log.h"

namespace kxcef {
namespace {

// A spare nobody takes costs a web process: it goes after this long.
constexpr guint kUnusedSeconds = 60;

struct Spare {
    std::shared_ptr<ProfileContext> profile;
    WebKitWebView* view = nullptr;  // our reference
    guint expiry = 0;
};

// UI thread only.
std::unique_ptr<Spare>& Current() {
    static std::unique_ptr<Spare> spare;
    return spare;
}

}  // namespace

void StartSpareView() {
    if (Current() || !EngineRunning()) return;
    auto spare = std::make_unique<Spare>();
    spare->profile = ProfileContext::Acquire(ProfileDirectory(), CurrentSwitches());
    WebKitSettings* settings = NewBrowserSettings(CurrentSwitches(), false);
    spare->view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", spare->profile->web_context(),
                                                "settings", settings, nullptr));
    g_object_unref(settings);
    g_object_ref_sink(spare->view);
    // A view starts its web process at its first request of the page. A
    // message does it without a load (no history entry, no load events) and,
    // unlike a script, without a result: a script's result would start a
    // JavaScript engine in this process to hold it (about 6 MB resident with
    // WebKitGTK 2.50). The page's extension ignores a message without
    // parameters.
    webkit_web_view_send_message_to_page(spare->view, webkit_user_message_new("kxcef-start", nullptr), nullptr,
                                         nullptr, nullptr);
    spare->expiry = g_timeout_add_seconds(kUnusedSeconds, [](gpointer) -> gboolean {
        Current()->expiry = 0;
        LogInfo(kLogManager, "the spare web view was not used; let go");
        DropSpareView();
        return G_SOURCE_REMOVE;
    }, nullptr);
    Current() = std::move(spare);
}

WebKitWebView* TakeSpareView(const std::shared_ptr<ProfileContext>& profile) {
    Spare* spare = Current().get();
    if (!spare || spare->profile != profile) return nullptr;
    WebKitWebView* view = spare->view;
    spare->view = nullptr;
    DropSpareView();
    return view;
}

void DropSpareView() {
    std::unique_ptr<Spare> spare = std::move(Current());
    if (!spare) return;
    if (spare->expiry) g_source_remove(spare->expiry);
    if (spare->view) {
        gtk_widget_destroy(GTK_WIDGET(spare->view));  // never parented
        g_object_unref(spare->view);
    }
}

}  // namespace kxcef
