// CCEF3Manager: start and stop of the browser engine, browser creation and
// calls of page functions. All operations are static.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kxcef/cef3_handler.h"
#include "kxcef/js_callback.h"
#include "platform/variant.h"
#include "platform/win_types.h"

// The extra switch (AppendCmdLine) that names hosts whose TLS certificate is
// accepted although it fails verification, comma-separated: "HOST=SHA256" (the
// certificate's SHA-256 fingerprint in 64 hex digits) or "HOST=any". Without
// it a TLS error fails the load.
inline constexpr char kCertificateExceptionsSwitch[] = "certificate-exceptions";
// The extra switch that names the schemes, besides http, https and mailto,
// whose addresses pages may have the desktop open (comma-separated, lower
// case): a navigation to such an address is a launch request, never a load.
inline constexpr char kLaunchSchemesSwitch[] = "launch-schemes";
// What the library sends a page at most in one page command (the text of its
// arguments, in UTF-8 bytes); a command over it is not sent and leaves a log
// line. Far above what a page may send (256 KiB), which binds only pages.
inline constexpr size_t kMaxPageCommandTextBytes = size_t(4) << 20;

class CCEF3APP;               // the process's application object (library-internal)
class CCEFJSCommandListener;  // the list of browsers that can receive page commands

class KXCEF2_API CCEF3Manager {
public:
    CCEF3Manager();
    CCEF3Manager(const CCEF3Manager& other);
    CCEF3Manager& operator=(const CCEF3Manager& other);
    ~CCEF3Manager();

    static void CEFPreapare();
    static void SetProcessHandler(CProcessHandler* handler);
    static void SetJSCallBackHandler(CJSCallbackHandler* handler);
    static void RegisterJsNativeFunc(std::string objectName, std::string code);
    static void RegisterAsyJsNativeFunc(std::string objectName, std::string code);
    static void AppendCmdLine(std::string name, std::string value);

    // 0 or more: this process must end (a finished sub-process, or no
    // application object); negative: the engine runs in this browser process.
    static int CEFInit(HINSTANCE instance);
    // After CEFInit, on the UI thread: starts the engine's web and network
    // processes for the first browser (of the default profile), so that they
    // start up while the host builds its windows; CreateBrowser takes them
    // over. Unused, they end after a minute.
    static void StartEngineProcesses();
    // `url` in UTF-8, as every text of the bridge: an address may carry any character.
    static CefRefPtr<CCEF3Handler> CreateBrowser(HWND parent, RECT rect, std::string url, bool windowless,
                                                 bool enablePlugins, int fps);
    static bool SendJsCommand(std::string functionName, std::vector<VARIANT>& args, int browserId);
    // The document of `browserId` whose page call the UI thread is handling
    // right now (0 outside such a call, or on another thread). Whoever answers
    // the call later keeps it and answers through SendJsCommandTo, so that the
    // answer reaches the document that asked, not the page's main document.
    static std::uint64_t CallingDocument(int browserId);
    static bool SendJsCommandTo(std::string functionName, std::vector<VARIANT>& args, int browserId,
                                std::uint64_t document);
    // Whether documents at `url` (UTF-8) are trusted with the bridge: the
    // origin of the address is one the page-call handler trusts.
    static bool IsTrustedPageAddress(const std::string& url);
    static bool CloseAllBrowser(HWND quitWnd);
    static void RemoveJsCommandListener(CCEF3Handler* handler);
    static void CEFShutDown();

    CefRefPtr<CCEF3APP> GetCEFApp();

    static HWND m_hQuitWnd;
    static CCEFJSCommandListener* m_pListener;

    // The switches of the command-line preparation, in order, as "name" or
    // "name=value" (empty before CEFInit).
    static std::vector<std::string> GetPreparedCommandLine();

private:
    CefRefPtr<CCEF3APP> m_app;
};
