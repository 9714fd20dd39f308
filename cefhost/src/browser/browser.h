// A browser on WebKitGTK: one WebKitWebView with its host operations and its
// frames, as the library's callers see them (CefBrowser, CefBrowserHost,
// CefFrame). Everything here runs on the UI thread unless said otherwise.
#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <functional>
#include <string>

#include "engine/profile_context.h"
#include "kxcef/cef3_handler.h"

namespace kxcef {

class OffscreenView;

struct BrowserCreateParams {
    HWND parent = nullptr;
    RECT rect;
    std::string url;  // UTF-8
    bool windowless = false;
    bool enablePlugins = false;
};

// Creates the browser of `handler` on the UI thread (now when called there,
// else queued). The handler learns of it through OnAfterCreated. False when
// the engine cannot create it.
bool CreateBrowserAsync(CefRefPtr<CCEF3Handler> handler, const BrowserCreateParams& params);
// Closes every live browser at once (engine shutdown).
void CloseAllBrowsersNow();
// A browser's engine settings (a new reference).
WebKitSettings* NewBrowserSettings(const EngineSwitches& switches, bool enablePlugins);

class BrowserImpl;

class BrowserHostImpl : public CefBrowserHost {
public:
    explicit BrowserHostImpl(BrowserImpl* browser) : browser_(browser) {}
    CefRefPtr<CefBrowser> GetBrowser() override;
    void CloseBrowser(bool forceClose) override;
    void SetFocus(bool focus) override;
    void SendFocusEvent(bool setFocus) override;
    HWND GetWindowHandle() override;
    void WasResized() override;
    void WasHidden(bool hidden) override;
    void NotifyMoveOrResizeStarted() override {}
    void ShowDevTools() override;
    void CloseDevTools() override;
    void SendKeyEvent(const CefKeyEvent& event) override;
    void SendMouseClickEvent(const CefMouseEvent& event, cef_mouse_button_type_t type, bool mouseUp,
                             int clickCount) override;
    void SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) override;
    void SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) override;

private:
    BrowserImpl* browser_;  // owns this host
    friend class BrowserImpl;
    void AddRef() const override;
    bool Release() const override;
    bool HasOneRef() const override;
};

class FrameImpl : public CefFrame {
public:
    FrameImpl(CefRefPtr<BrowserImpl> browser, bool main, std::wstring name, std::wstring url);
    bool IsValid() const override;
    bool IsMain() const override { return main_; }
    CefString GetName() const override { return name_; }
    CefString GetURL() const override;
    std::int64_t GetIdentifier() const override { return main_ ? 1 : -1; }
    void LoadURL(const CefString& url) override;
    void LoadString(const CefString& html, const CefString& url) override;
    CefRefPtr<CefBrowser> GetBrowser() const override;

private:
    ~FrameImpl() override = default;
    CefRefPtr<BrowserImpl> browser_;
    bool main_;
    std::wstring name_;
    std::wstring url_;
    KXCEF_IMPLEMENT_REFCOUNTING(FrameImpl);
};

class BrowserImpl : public CefBrowser {
public:
    BrowserImpl(CefRefPtr<CCEF3Handler> client, std::shared_ptr<ProfileContext> profile);

    // CefBrowser
    CefRefPtr<CefBrowserHost> GetHost() override;
    int GetIdentifier() override { return id_; }
    bool IsSame(CefRefPtr<CefBrowser> that) override { return that.get() == this; }
    CefRefPtr<CefFrame> GetMainFrame() override;
    bool CanGoBack() override;
    bool CanGoForward() override;
    void GoBack() override;
    void GoForward() override;
    void Reload() override;
    void StopLoad() override;
    bool IsLoading() override;

    // Library side.
    // Makes the view, or takes `spare` (a reference) as its view.
    bool Create(const BrowserCreateParams& params, WebKitWebView* spare = nullptr);
    void Start(const std::string& url);              // OnAfterCreated, then the first load
    WebKitWebView* view() const { return view_; }
    HWND hwnd() const { return hwnd_; }
    bool closed() const { return closed_; }
    CefRefPtr<CCEF3Handler> client() const { return client_; }
    WXRequestContextHandler* request_context_handler() const { return requestContext_.get(); }
    const std::shared_ptr<ProfileContext>& profile() const { return profile_; }
    CefRefPtr<CefFrame> SubFrame(const std::wstring& url);
    // Sends a bridge message to the page's web process.
    void SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message);
    void SendEncodedMessage(const std::string& name, GVariant* params);  // takes `params`
    void LoadUrl(const std::string& utf8Url);
    // `html` (UTF-8) in place of `utf8Url`, as an "about:blank" document.
    void LoadStandIn(const std::string& html, const std::string& utf8Url);
    void Show(bool show, const RECT& boundary);
    void SetBounds(const RECT& area);
    void Focus();
    // A windowless browser's view, with its frames and input (null for a windowed one).
    OffscreenView* offscreen_view() const { return osrView_.get(); }
    // Sizes a windowless browser's view to the client's view rectangle.
    void FollowViewRect();
    void OpenDevTools();
    void CloseDevToolsWindow();
    // Close without asking the page (forced), or after it agreed.
    void CloseNow();
    void TryClose();
    // State of the view's signal handlers.
    bool& load_failed() { return loadFailed_; }
    // The main frame's last load finished (its page is up); false from the
    // start of the next one.
    bool& page_loaded() { return pageLoaded_; }
    // Why the certificate of the load that is failing now was refused (its
    // error code and problems in words), for the failed load's report.
    struct CertificateRefusal {
        int code = 0;
        std::string problems;
    };
    CertificateRefusal& certificate_refusal() { return certificateRefusal_; }
    GtkWidget*& devtools_window() { return devTools_; }

private:
    // Runs `action` on the UI thread with the view, if the browser still has one.
    void RunOnView(std::function<void(WebKitWebView*)> action);
    ~BrowserImpl() override;

    CefRefPtr<CCEF3Handler> client_;
    std::shared_ptr<ProfileContext> profile_;
    std::unique_ptr<WXRequestContextHandler> requestContext_;
    WebKitWebView* view_ = nullptr;    // our reference
    GtkWidget* offscreen_ = nullptr;   // host window when no container takes the view
    std::unique_ptr<OffscreenView> osrView_;  // windowless browsers
    GtkWidget* devTools_ = nullptr;    // the inspector's window while open
    HWND hwnd_ = nullptr;
    int id_ = 0;
    bool closing_ = false;
    bool closed_ = false;
    CertificateRefusal certificateRefusal_;
    bool loadFailed_ = false;
    bool pageLoaded_ = false;
    BrowserHostImpl host_;
    friend class BrowserHostImpl;
    KXCEF_IMPLEMENT_REFCOUNTING(BrowserImpl);
};

// Live browsers by id (UI thread).
BrowserImpl* FindBrowser(int id);
void RegisterBrowser(BrowserImpl* browser);
void UnregisterBrowser(BrowserImpl* browser);
std::vector<CefRefPtr<BrowserImpl>> LiveBrowsers();

}  // namespace kxcef
