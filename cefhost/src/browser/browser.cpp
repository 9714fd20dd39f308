#include "browser/browser.h"

#include <algorithm>

#include "bridge/wire_format.h"
#include "browser/spare_view.h"
#include "browser/view_signals.h"
#include "common/log_text.h"
#include "engine/engine_state.h"
#include "engine/profile.h"
#include "log.h"
#include "osr/offscreen_view.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "ui_thread.h"
#include "uilib/native.h"
#include "uilib/win32.h"

namespace kxcef {
namespace {

int Width(const RECT& r) { return std::max<int>(0, r.right - r.left); }
int Height(const RECT& r) { return std::max<int>(0, r.bottom - r.top); }

}  // namespace

WebKitSettings* NewBrowserSettings(const EngineSwitches& switches, bool enablePlugins) {
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_developer_extras(settings, TRUE);
    webkit_settings_set_enable_html5_local_storage(settings, TRUE);
    webkit_settings_set_enable_media_stream(settings, switches.mediaStream);
    // Pop-ups must reach the engine's "create" signal to be turned away there.
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    // Workaround (WebKitGTK 2.50.6): composited rendering without a GPU runs in
    // software, costs ~50 MB across the processes and gains nothing, so it is
    // used only with a GPU the host allows (KXCEF2_COMPOSITING=1 asks for it
    // where one is known to work). Can go once the engine picks the
    // non-composited path by itself when no GPU is there.
    bool compositing = !switches.disableGpu && platform::GetEnv("KXCEF2_COMPOSITING") == "1";
    webkit_settings_set_hardware_acceleration_policy(
        settings, compositing ? WEBKIT_HARDWARE_ACCELERATION_POLICY_ALWAYS : WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    // Plug-ins are off unless the caller asks. Workaround (WebKitGTK 2.50.6 has
    // no plug-in support; the deprecated property may go in any release): set
    // only where it exists. Can go with the option itself once no caller asks
    // for plug-ins.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(settings), "enable-plugins"))
        g_object_set(settings, "enable-plugins", enablePlugins ? TRUE : FALSE, nullptr);
    return settings;
}

// --- Creation ------------------------------------------------------------------

bool CreateBrowserAsync(CefRefPtr<CCEF3Handler> handler, const BrowserCreateParams& params) {
    auto create = [handler, params]() -> bool {
        if (!EngineRunning()) return false;
        std::shared_ptr<ProfileContext> profile = ProfileContext::Acquire(ProfileDirectory(), CurrentSwitches());
        CefRefPtr<BrowserImpl> browser(new BrowserImpl(handler, profile));
        if (!browser->Create(params, TakeSpareView(profile))) {
            LogWarning(kLogHandler, "the web view could not be created");
            return false;
        }
        browser->Start(params.url);
        return true;
    };
    if (IsUiThread()) return create();
    PostToUi([create] { create(); });
    return true;
}

void CloseAllBrowsersNow() {
    KX_ASSERT_UI_THREAD();
    for (const CefRefPtr<BrowserImpl>& b : LiveBrowsers()) b->CloseNow();
}

// --- BrowserImpl -------------------------------------------------------------------

BrowserImpl::BrowserImpl(CefRefPtr<CCEF3Handler> client, std::shared_ptr<ProfileContext> profile)
    : client_(std::move(client)),
      profile_(std::move(profile)),
      requestContext_(new WXRequestContextHandler(profile_)),
      host_(this) {}

BrowserImpl::~BrowserImpl() {
    WebKitWebView* view = view_;
    GtkWidget* offscreen = offscreen_;
    OffscreenView* osrView = osrView_.release();
    if (!view && !offscreen && !osrView) return;
    // Only reached for a browser that never closed: its widgets go on the UI thread.
    RunOnUi([view, offscreen, osrView] {
        delete osrView;  // destroys its window with the view in it
        if (view) {
            DisconnectViewSignals(view);
            if (!offscreen && !osrView) gtk_widget_destroy(GTK_WIDGET(view));
            g_object_unref(view);
        }
        if (offscreen) gtk_widget_destroy(offscreen);
    });
}

bool BrowserImpl::Create(const BrowserCreateParams& params, WebKitWebView* spare) {
    KX_ASSERT_UI_THREAD();
    WebKitSettings* settings = NewBrowserSettings(profile_->switches(), params.enablePlugins);
    if (spare) {
        view_ = spare;  // its processes are starting or up already
        webkit_web_view_set_settings(view_, settings);
    } else {
        view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", profile_->web_context(),
                                             "settings", settings, nullptr));
        if (view_) g_object_ref_sink(view_);
    }
    g_object_unref(settings);
    if (!view_) return false;
    id_ = static_cast<int>(webkit_web_view_get_page_id(view_));
    ConnectViewSignals(this);

    GtkWidget* widget = GTK_WIDGET(view_);
    if (params.windowless) {
        // Rendered off screen: frames go to the client's bitmap, input comes
        // from the host window's messages.
        BrowserImpl* self = this;
        osrView_.reset(new OffscreenView(
            view_, Width(params.rect), Height(params.rect),
            [self](const std::vector<RECT>& dirty, const void* pixels, int width, int height) {
                if (self->client_ && !self->closed_) self->client_->OnPaint(self, dirty, pixels, width, height);
            },
            [self](HCURSOR cursor) {
                if (self->client_ && !self->closed_) self->client_->OnCursorChange(self, cursor);
            }));
        RegisterBrowser(this);
        LogInfo(kLogHandler, "browser " + std::to_string(id_) + " renders off screen at " +
                                 std::to_string(Width(params.rect)) + "x" + std::to_string(Height(params.rect)));
        return true;
    }
    GtkWidget* container = nullptr;
    if (params.parent) container = UiLib::Native::GetContainer(params.parent);
    if (container && GTK_IS_FIXED(container)) {
        gtk_fixed_put(GTK_FIXED(container), widget, params.rect.left, params.rect.top);
        gtk_widget_set_size_request(widget, Width(params.rect), Height(params.rect));
        gtk_widget_show(widget);
        hwnd_ = UiLib::Native::RegisterChildWidget(widget, params.parent);
    } else {
        // A browser whose parent offers no container lives in an off-screen
        // window of its size.
        offscreen_ = gtk_offscreen_window_new();
        int w = std::max(1, Width(params.rect)), h = std::max(1, Height(params.rect));
        gtk_window_set_default_size(GTK_WINDOW(offscreen_), w, h);
        gtk_widget_set_size_request(widget, w, h);
        gtk_container_add(GTK_CONTAINER(offscreen_), widget);
        gtk_widget_show_all(offscreen_);
    }
    RegisterBrowser(this);
    return true;
}

void BrowserImpl::Start(const std::string& url) {
    CefRefPtr<BrowserImpl> self(this);
    PostToUi([self, url] {
        if (self->closed_) return;
        if (self->client_) self->client_->OnAfterCreated(self.get());
        if (url.empty() || !self->profile_) return;
        self->profile_->WhenReady([self, url] {
            if (!self->closed_ && self->view_) webkit_web_view_load_uri(self->view_, url.c_str());
        });
    });
}

CefRefPtr<CefBrowserHost> BrowserImpl::GetHost() { return CefRefPtr<CefBrowserHost>(&host_); }

// Off the UI thread these cannot answer (the view's state is the UI
// thread's): a debug build stops there; a release build answers as if there
// were no view rather than touch it from another thread.
CefRefPtr<CefFrame> BrowserImpl::GetMainFrame() {
    KX_ASSERT_UI_THREAD();
    std::wstring url;
    if (IsUiThread() && view_) {
        const char* uri = webkit_web_view_get_uri(view_);
        url = platform::Utf8ToWide(uri ? uri : "");
    }
    return CefRefPtr<CefFrame>(new FrameImpl(this, true, L"", url));
}

CefRefPtr<CefFrame> BrowserImpl::SubFrame(const std::wstring& url) {
    return CefRefPtr<CefFrame>(new FrameImpl(this, false, L"", url));
}

bool BrowserImpl::CanGoBack() {
    KX_ASSERT_UI_THREAD();
    return IsUiThread() && view_ && webkit_web_view_can_go_back(view_);
}

bool BrowserImpl::CanGoForward() {
    KX_ASSERT_UI_THREAD();
    return IsUiThread() && view_ && webkit_web_view_can_go_forward(view_);
}

bool BrowserImpl::IsLoading() {
    KX_ASSERT_UI_THREAD();
    return IsUiThread() && view_ && webkit_web_view_is_loading(view_);
}

void BrowserImpl::GoBack() {
    RunOnView([](WebKitWebView* view) { webkit_web_view_go_back(view); });
}

void BrowserImpl::GoForward() {
    RunOnView([](WebKitWebView* view) { webkit_web_view_go_forward(view); });
}

void BrowserImpl::Reload() {
    RunOnView([](WebKitWebView* view) { webkit_web_view_reload(view); });
}

void BrowserImpl::StopLoad() {
    RunOnView([](WebKitWebView* view) { webkit_web_view_stop_loading(view); });
}

void BrowserImpl::LoadUrl(const std::string& utf8Url) {
    RunOnView([utf8Url](WebKitWebView* view) { webkit_web_view_load_uri(view, utf8Url.c_str()); });
}

void BrowserImpl::LoadStandIn(const std::string& html, const std::string& utf8Url) {
    // Not the engine's alternate HTML: its document keeps the failed address
    // as the frame's address, from which the web process would take the
    // front-end's origin. "about:blank" has none.
    LogInfo(kLogHandler, "a page of the client's own in place of " + PageTextForLog(MaskUrl(utf8Url)));
    RunOnView([html](WebKitWebView* view) { webkit_web_view_load_html(view, html.c_str(), "about:blank"); });
}

void BrowserImpl::RunOnView(std::function<void(WebKitWebView*)> action) {
    CefRefPtr<BrowserImpl> self(this);
    RunOnUi([self, action = std::move(action)] {
        if (self->view_) action(self->view_);
    });
}

void BrowserImpl::SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message) {
    if (target != PID_RENDERER || !message) return;
    SendEncodedMessage(message->GetName(), EncodeMessageParams(*message->GetArgumentList(), MessageExtras()));
}

void BrowserImpl::SendEncodedMessage(const std::string& name, GVariant* params) {
    KX_ASSERT_UI_THREAD();
    if (view_ && !closed_) {
        WebKitUserMessage* message = webkit_user_message_new(name.c_str(), params);
        webkit_web_view_send_message_to_page(view_, message, nullptr, nullptr, nullptr);
    }
    if (params) g_variant_unref(params);
}

void BrowserImpl::Show(bool show, const RECT& boundary) {
    KX_ASSERT_UI_THREAD();
    if (!view_) return;
    if (osrView_) {
        osrView_->SetVisible(show);
    } else if (hwnd_) {
        UiLib::SetWindowPos(hwnd_, nullptr, 0, 0, show ? Width(boundary) : 0, show ? Height(boundary) : 0,
                            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        UiLib::ShowWindow(hwnd_, show ? SW_SHOWNORMAL : SW_HIDE);
    } else {
        gtk_widget_set_visible(GTK_WIDGET(view_), show);
    }
}

void BrowserImpl::SetBounds(const RECT& area) {
    KX_ASSERT_UI_THREAD();
    if (!view_) return;
    if (osrView_) {
        osrView_->Resize(Width(area), Height(area));
    } else if (hwnd_) {
        UiLib::SetWindowPos(hwnd_, nullptr, area.left, area.top, Width(area), Height(area),
                            SWP_NOACTIVATE | SWP_NOZORDER);
    } else if (offscreen_) {
        int w = std::max(1, Width(area)), h = std::max(1, Height(area));
        gtk_widget_set_size_request(GTK_WIDGET(view_), w, h);
        gtk_window_resize(GTK_WINDOW(offscreen_), w, h);
    }
}

void BrowserImpl::Focus() {
    KX_ASSERT_UI_THREAD();
    if (osrView_) osrView_->SendFocus(true);
    else if (view_) gtk_widget_grab_focus(GTK_WIDGET(view_));
}

void BrowserImpl::FollowViewRect() {
    KX_ASSERT_UI_THREAD();
    if (!osrView_ || !client_ || closed_) return;
    CefRect rect;
    if (client_->GetViewRect(this, rect)) osrView_->Resize(rect.width, rect.height);
}

void BrowserImpl::OpenDevTools() {
    KX_ASSERT_UI_THREAD();
    if (view_) webkit_web_inspector_show(webkit_web_view_get_inspector(view_));
}

void BrowserImpl::CloseDevToolsWindow() {
    KX_ASSERT_UI_THREAD();
    if (view_) webkit_web_inspector_close(webkit_web_view_get_inspector(view_));
}

void BrowserImpl::TryClose() {
    KX_ASSERT_UI_THREAD();
    if (closed_ || closing_ || !view_) return;
    closing_ = true;
    webkit_web_view_try_close(view_);
    // A page that never answers (a hung web process) must not keep the
    // browser open for ever.
    CefRefPtr<BrowserImpl> self(this);
    PostToUiAfter(5000, [self] { self->CloseNow(); });
}

void BrowserImpl::CloseNow() {
    KX_ASSERT_UI_THREAD();
    if (closed_) return;
    closed_ = true;
    closing_ = true;
    CefRefPtr<BrowserImpl> self(this);
    CefRefPtr<CCEF3Handler> client = client_;
    if (client) client->DoClose(this);
    UnregisterBrowser(this);
    if (view_) {
        DisconnectViewSignals(view_);
        webkit_web_inspector_close(webkit_web_view_get_inspector(view_));
    }
    if (devTools_) {
        gtk_widget_destroy(devTools_);
        devTools_ = nullptr;
    }
    if (requestContext_) requestContext_->FlushCookieStore();
    if (osrView_) {
        osrView_.reset();
    } else if (offscreen_) {
        gtk_widget_destroy(offscreen_);
        offscreen_ = nullptr;
    } else if (view_) {
        gtk_widget_destroy(GTK_WIDGET(view_));
    }
    if (view_) {
        g_object_unref(view_);
        view_ = nullptr;
    }
    hwnd_ = nullptr;
    if (client) client->OnBeforeClose(this);
    client_ = nullptr;
    requestContext_.reset();
    profile_.reset();
}

// --- BrowserHostImpl -----------------------------------------------------------------

void BrowserHostImpl::AddRef() const { browser_->AddRef(); }
bool BrowserHostImpl::Release() const { return browser_->Release(); }
bool BrowserHostImpl::HasOneRef() const { return browser_->HasOneRef(); }

CefRefPtr<CefBrowser> BrowserHostImpl::GetBrowser() { return CefRefPtr<CefBrowser>(browser_); }

void BrowserHostImpl::CloseBrowser(bool forceClose) {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b, forceClose] {
        if (forceClose) b->CloseNow();
        else b->TryClose();
    });
}

void BrowserHostImpl::SetFocus(bool focus) {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b, focus] {
        if (focus) b->Focus();
        else if (b->osrView_) b->osrView_->SendFocus(false);
    });
}

void BrowserHostImpl::SendFocusEvent(bool setFocus) { SetFocus(setFocus); }

HWND BrowserHostImpl::GetWindowHandle() { return browser_->hwnd_; }

void BrowserHostImpl::WasResized() {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b] { b->FollowViewRect(); });
}

void BrowserHostImpl::WasHidden(bool hidden) {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b, hidden] {
        if (b->osrView_) b->osrView_->SetVisible(!hidden);
        else if (b->view_) gtk_widget_set_visible(GTK_WIDGET(b->view_), !hidden);
    });
}

void BrowserHostImpl::ShowDevTools() {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b] { b->OpenDevTools(); });
}

void BrowserHostImpl::CloseDevTools() {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b] { b->CloseDevToolsWindow(); });
}

// Input of windowless browsers: synthesised events for the off-screen view.
// A windowed browser takes its input from its own window.
void BrowserHostImpl::SendKeyEvent(const CefKeyEvent& event) {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b, event] {
        if (b->osrView_ && !b->closed_) b->osrView_->SendKey(event);
    });
}

void BrowserHostImpl::SendMouseClickEvent(const CefMouseEvent& event, cef_mouse_button_type_t type, bool mouseUp,
                                          int clickCount) {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b, event, type, mouseUp, clickCount] {
        if (b->osrView_ && !b->closed_) b->osrView_->SendMouseClick(event, type, mouseUp, clickCount);
    });
}

void BrowserHostImpl::SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b, event, mouseLeave] {
        if (b->osrView_ && !b->closed_) b->osrView_->SendMouseMove(event, mouseLeave);
    });
}

void BrowserHostImpl::SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) {
    CefRefPtr<BrowserImpl> b(browser_);
    RunOnUi([b, event, deltaX, deltaY] {
        if (b->osrView_ && !b->closed_) b->osrView_->SendMouseWheel(event, deltaX, deltaY);
    });
}

// --- FrameImpl ------------------------------------------------------------------------

FrameImpl::FrameImpl(CefRefPtr<BrowserImpl> browser, bool main, std::wstring name, std::wstring url)
    : browser_(std::move(browser)), main_(main), name_(std::move(name)), url_(std::move(url)) {}

bool FrameImpl::IsValid() const { return browser_ && !browser_->closed(); }

CefString FrameImpl::GetURL() const { return url_; }

void FrameImpl::LoadURL(const CefString& url) {
    if (main_ && browser_) browser_->LoadUrl(platform::WideToUtf8(url));
}

void FrameImpl::LoadString(const CefString& html, const CefString& url) {
    if (main_ && browser_) browser_->LoadStandIn(platform::WideToUtf8(html), platform::WideToUtf8(url));
}

CefRefPtr<CefBrowser> FrameImpl::GetBrowser() const { return CefRefPtr<CefBrowser>(browser_.get()); }

}  // namespace kxcef
