// CCEF3Handler: the client of one browser. It receives the engine's per-browser
// events, forwards them to the caller's delegates, offers the browser
// operations, carries the bridge's browser side and the off-screen rendering.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kxcef/browser_delegate.h"
#include "kxcef/cef_base.h"
#include "kxcef/cef_browser.h"
#include "kxcef/js_callback.h"
#include "platform/variant.h"
#include "platform/win_types.h"

// The last frame of a windowless browser: 32-bit ARGB pixels (premultiplied,
// native byte order, cairo's ARGB32), rows of `stride` bytes.
struct OSRBitmap {
    int width = 0;
    int height = 0;
    int stride = 0;
    unsigned char* pixels = nullptr;
};

// A message between the render and the browser process: a name and a list.
class KXCEF2_API CefProcessMessage : public CefBaseRefCounted {
public:
    static CefRefPtr<CefProcessMessage> Create(const std::string& name);
    std::string GetName() const { return name_; }
    CefRefPtr<CefListValue> GetArgumentList() const { return args_; }
    // Native calls from a page: the origin of the calling frame's document, as
    // the render process saw it when the call was made; empty when unknown.
    const std::string& GetFrameOrigin() const { return frameOrigin_; }
    void SetFrameOrigin(std::string origin) { frameOrigin_ = std::move(origin); }
    // The calling document (a token of the render process; 0 when unknown).
    std::uint64_t GetFrameDocument() const { return frameDocument_; }
    void SetFrameDocument(std::uint64_t document) { frameDocument_ = document; }

private:
    explicit CefProcessMessage(std::string name);
    ~CefProcessMessage() override = default;
    std::string name_;
    CefRefPtr<CefListValue> args_;
    std::string frameOrigin_;
    std::uint64_t frameDocument_ = 0;
    KXCEF_IMPLEMENT_REFCOUNTING(CefProcessMessage);
};

enum CefProcessId { PID_BROWSER = 0, PID_RENDERER = 1 };

class KXCEF2_API CCEF3Handler : public CefBaseRefCounted {
public:
    CCEF3Handler();

    // --- Caller operations ---------------------------------------------------
    void NavigateTo(std::string url);  // url in UTF-8, as every text of the bridge
    void GoBack();
    void GoForward();
    void Reload();
    void ShowBrowser(bool show);
    void CloseBrowser();
    void ShowDevTools();
    void CloseDevTools();
    CefRefPtr<CefBrowser> GetBrowser();
    int GetBrowserId();
    bool IsClosing();
    void SetMainWindowHandle(HWND hwnd);
    HWND GetMainWindowHandle();

    void SetBrowserEventCallBack(const CCEF3BrowserDelegateBase& delegate);
    void SetBrowserEventDetailCallBack(const CCEF3BrowserDelegateBase& delegate);
    void SetStateLoadChangeCallBack(const CCEF3BrowserDelegateBase& delegate);
    void SetBrowserDisplayCallBack(const CCEF3BrowserDelegateBase& delegate);
    void SetNewBrowserLinkCallBack(const CCEF3BrowserDelegateBase& delegate);
    void SetDownloadTaskCallBack(const CCEF3BrowserDelegateBase& delegate);

    // --- JavaScript bridge, browser side ---------------------------------------
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source,
                                  CefRefPtr<CefProcessMessage> message);
    bool HandleAsynJsEvent(int browserId, const std::string& name, CefRefPtr<CefListValue>& args);
    // The same with the calling frame's origin, handed to the delegates.
    bool HandleAsynJsEventFrom(int browserId, const std::string& origin, const std::string& name,
                               CefRefPtr<CefListValue>& args);
    void AddASynCPPCallBack(const CCEF3JSDelegateBase& delegate);
    // Calls the global page function `functionName` with the converted args.
    // Any thread; false when the handler has no browser.
    bool SendJSCommand(std::string functionName, std::vector<VARIANT>& args);
    // The same for one document (a token from CCEF3Manager::CallingDocument):
    // it runs there while that document is still shown and is dropped, with a
    // log line, once it is not. 0 sends as SendJSCommand does.
    bool SendJSCommandTo(std::string functionName, std::vector<VARIANT>& args, std::uint64_t document);

    // --- Off-screen rendering, sizing, input -----------------------------------
    void InitOSRPaintContext(HWND host, RECT area, int fps);
    void SetBrowserBoundary(RECT area);
    // Enters the bitmap lock and returns the bitmap (null when none yet); returns
    // null without locking for a windowed browser.
    OSRBitmap* LockOSRBitmap();
    void UnLockOSRBitmap();
    void SetCEFSize(RECT area);
    void DealInputMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void DealOSRInputMsg(HWND hwnd, bool windowLess);
    static LRESULT OSRCEFProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void SetFocus();
    bool IsWindowLessCEF();
    // Host windows watched by handlers, in registration order.
    static std::map<HWND, std::vector<CCEF3Handler*>> s_HandlerMap;

    // --- Cookies ----------------------------------------------------------------
    void SyncCookie();

    // --- Engine callbacks (UI thread) -------------------------------------------
    void OnAfterCreated(CefRefPtr<CefBrowser> browser);
    bool DoClose(CefRefPtr<CefBrowser> browser);
    void OnBeforeClose(CefRefPtr<CefBrowser> browser);
    bool OnBeforePopup(CefRefPtr<CefBrowser> browser, const CefString& targetUrl);
    // The same with the engine's word on whether a user gesture asked for the
    // pop-up (without it the address never goes to the system).
    bool OnBeforePopup(CefRefPtr<CefBrowser> browser, const CefString& targetUrl, bool userGesture);
    void OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack, bool canGoForward);
    void OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame);
    void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int httpStatusCode);
    void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int errorCode,
                     const CefString& errorText, const CefString& failedUrl);
    void OnTitleChange(CefRefPtr<CefBrowser> browser, const CefString& title);
    void OnAddressChange(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString& url);
    // True cancels the navigation.
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString& url,
                        const CefString& referrer, bool isRedirect);
    void OnBeforeDownload(CefRefPtr<CefBrowser> browser, const CefString& url, const CefString& suggestedName);
    // `nativeMessage` is WM_KEYDOWN/WM_KEYUP/..., `windowsKeyCode` a VK_*. True consumes the key.
    bool OnKeyEvent(CefRefPtr<CefBrowser> browser, UINT nativeMessage, int windowsKeyCode);
    // Off-screen rendering: the view's place and size in the host window
    // (false for a windowed browser), a new frame (rows of width * 4 bytes),
    // the cursor over the view.
    bool GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect);
    void OnPaint(CefRefPtr<CefBrowser> browser, const std::vector<RECT>& dirtyRects, const void* buffer,
                 int width, int height);
    void OnCursorChange(CefRefPtr<CefBrowser> browser, HCURSOR cursor);
    void UpdateDragCursor(CefRefPtr<CefBrowser> browser, int operation);

    // Engine-side state of this handler (internal to the library).
    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    ~CCEF3Handler() override;
    std::unique_ptr<Impl> impl_;
    KXCEF_IMPLEMENT_REFCOUNTING(CCEF3Handler);
};
