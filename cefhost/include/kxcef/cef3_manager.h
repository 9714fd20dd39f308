// CCEF3Manager: start and stop of the browser engine, browser creation and
// calls of page functions. All operations are static.
#pragma once

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
