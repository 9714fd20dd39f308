// The browser, its host and its frames, as the browser host's callers see them.
#pragma once

#include <cstdint>

#include "kxcef/cef_base.h"
#include "platform/win_types.h"

class CefBrowser;

// One frame of a browser. In the browser process only the main frame and
// the frame of the current event are known.
class KXCEF2_API CefFrame : public CefBaseRefCounted {
public:
    virtual bool IsValid() const = 0;
    virtual bool IsMain() const = 0;
    virtual CefString GetName() const = 0;
    virtual CefString GetURL() const = 0;
    virtual std::int64_t GetIdentifier() const = 0;
    virtual void LoadURL(const CefString& url) = 0;
    // Shows `html` (UTF-16) in place of what `url` would load (an error page).
    // The document is "about:blank" to the engine, with an opaque origin,
    // never `url`'s: it gets no page commands, and trying `url` again is the
    // caller's part. Main frame only.
    virtual void LoadString(const CefString& html, const CefString& url) = 0;
    virtual CefRefPtr<CefBrowser> GetBrowser() const = 0;
};

// Why a load failed: the engine's network error codes (the value of browser
// event 4). Names and values as the engine's own list; these are the ones
// the engine can report here.
enum cef_errorcode_t {
    ERR_NONE = 0,
    ERR_FAILED = -2,
    ERR_ABORTED = -3,  // cancelled: stopped, replaced by another load, a download
    ERR_FILE_NOT_FOUND = -6,
    ERR_TIMED_OUT = -7,
    ERR_ACCESS_DENIED = -10,
    ERR_NETWORK_CHANGED = -21,
    ERR_CONNECTION_CLOSED = -100,
    ERR_CONNECTION_RESET = -101,
    ERR_CONNECTION_REFUSED = -102,
    ERR_CONNECTION_ABORTED = -103,
    ERR_CONNECTION_FAILED = -104,
    ERR_NAME_NOT_RESOLVED = -105,
    ERR_INTERNET_DISCONNECTED = -106,
    ERR_SSL_PROTOCOL_ERROR = -107,
    ERR_ADDRESS_INVALID = -108,
    ERR_ADDRESS_UNREACHABLE = -109,
    ERR_CONNECTION_TIMED_OUT = -118,
    ERR_NAME_RESOLUTION_FAILED = -137,
    ERR_CERT_COMMON_NAME_INVALID = -200,
    ERR_CERT_DATE_INVALID = -201,
    ERR_CERT_AUTHORITY_INVALID = -202,
    ERR_CERT_REVOKED = -206,
    ERR_CERT_INVALID = -207,
    ERR_CERT_END = -299,  // certificate errors run from ERR_CERT_COMMON_NAME_INVALID down to here
    ERR_INVALID_URL = -300,
    ERR_UNKNOWN_URL_SCHEME = -302,
    ERR_TOO_MANY_REDIRECTS = -310,
    ERR_UNSAFE_PORT = -312,
    ERR_INVALID_RESPONSE = -320,
    ERR_EMPTY_RESPONSE = -324,
    // The library's own (no network error): the page's web process ended
    // before the page loaded, or kept ending.
    ERR_WEB_PROCESS_ENDED = -1000,
};

// Mouse buttons of the off-screen input events.
enum cef_mouse_button_type_t { MBT_LEFT = 0, MBT_MIDDLE = 1, MBT_RIGHT = 2 };
enum cef_key_event_type_t { KEYEVENT_RAWKEYDOWN = 0, KEYEVENT_KEYDOWN, KEYEVENT_KEYUP, KEYEVENT_CHAR };

// Event flags of input events.
enum cef_event_flags_t {
    EVENTFLAG_NONE = 0,
    EVENTFLAG_CAPS_LOCK_ON = 1 << 0,
    EVENTFLAG_SHIFT_DOWN = 1 << 1,
    EVENTFLAG_CONTROL_DOWN = 1 << 2,
    EVENTFLAG_ALT_DOWN = 1 << 3,
    EVENTFLAG_LEFT_MOUSE_BUTTON = 1 << 4,
    EVENTFLAG_MIDDLE_MOUSE_BUTTON = 1 << 5,
    EVENTFLAG_RIGHT_MOUSE_BUTTON = 1 << 6,
    EVENTFLAG_COMMAND_DOWN = 1 << 7,
    EVENTFLAG_NUM_LOCK_ON = 1 << 8,
    EVENTFLAG_IS_KEY_PAD = 1 << 9,
    EVENTFLAG_IS_LEFT = 1 << 10,
    EVENTFLAG_IS_RIGHT = 1 << 11,
};

// A rectangle as position and size.
struct CefRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct CefMouseEvent {
    int x = 0;
    int y = 0;
    std::uint32_t modifiers = 0;
};

struct CefKeyEvent {
    cef_key_event_type_t type = KEYEVENT_RAWKEYDOWN;
    std::uint32_t modifiers = 0;
    int windows_key_code = 0;
    int native_key_code = 0;
    bool is_system_key = false;
    wchar_t character = 0;
    wchar_t unmodified_character = 0;
    bool focus_on_editable_field = false;
};

// Host-side operations of a browser.
class KXCEF2_API CefBrowserHost : public CefBaseRefCounted {
public:
    virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
    // Closes the browser; without force the page may keep itself open (unload).
    virtual void CloseBrowser(bool forceClose) = 0;
    virtual void SetFocus(bool focus) = 0;
    virtual void SendFocusEvent(bool setFocus) = 0;
    // The UiLib window handle of the browser's own view (windowed browsers).
    virtual HWND GetWindowHandle() = 0;
    virtual void WasResized() = 0;
    virtual void WasHidden(bool hidden) = 0;
    virtual void NotifyMoveOrResizeStarted() = 0;
    virtual void ShowDevTools() = 0;
    virtual void CloseDevTools() = 0;
    virtual void SendKeyEvent(const CefKeyEvent& event) = 0;
    virtual void SendMouseClickEvent(const CefMouseEvent& event, cef_mouse_button_type_t type,
                                     bool mouseUp, int clickCount) = 0;
    virtual void SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) = 0;
    virtual void SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) = 0;
};

// One browser: a web view with its page.
class KXCEF2_API CefBrowser : public CefBaseRefCounted {
public:
    virtual CefRefPtr<CefBrowserHost> GetHost() = 0;
    virtual int GetIdentifier() = 0;
    virtual bool IsSame(CefRefPtr<CefBrowser> that) = 0;
    virtual CefRefPtr<CefFrame> GetMainFrame() = 0;
    virtual bool CanGoBack() = 0;
    virtual bool CanGoForward() = 0;
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    virtual void Reload() = 0;
    virtual void StopLoad() = 0;
    virtual bool IsLoading() = 0;
};
