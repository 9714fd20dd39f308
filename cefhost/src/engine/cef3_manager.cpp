#include "kxcef/cef3_manager.h"

#include <gtk/gtk.h>

#include <atomic>
#include <mutex>

#include "browser/browser.h"
#include "browser/reply_route.h"
#include "browser/spare_view.h"
#include "engine/app.h"
#include "engine/engine_state.h"
#include "engine/handler_slots.h"
#include "engine/js_command_listener.h"
#include "engine/profile.h"
#include "engine/profile_context.h"
#include "kxcef/origin.h"
#include "log.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "ui_thread.h"
#include "uilib/win32.h"

// The instance, its constructors and the handler slots' setters are in
// handler_slots.cpp, which the library's render side shares.
HWND CCEF3Manager::m_hQuitWnd = nullptr;

namespace {

std::atomic<bool> g_engineRunning{false};
std::mutex g_stateMutex;
std::vector<std::string> g_commandLine;
kxcef::EngineSwitches g_switches;
bool g_gtkReady = false;

std::string JoinLine(const std::vector<std::string>& line) {
    std::string out;
    for (const std::string& s : line) {
        if (!out.empty()) out += ' ';
        out += s;
    }
    return out;
}

}  // namespace

namespace kxcef {

bool EngineRunning() { return g_engineRunning.load(); }

EngineSwitches CurrentSwitches() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    return g_switches;
}

HWND QuitWindow() { return CCEF3Manager::m_hQuitWnd; }

void LeaveCommandListener(CCEF3Handler* handler) {
    CCEFJSCommandListener* list = CCEF3Manager::m_pListener;
    if (!list) return;
    bool emptied = false;
    list->Remove(handler, &emptied);
    if (emptied && CCEF3Manager::m_hQuitWnd) UiLib::PostMessageW(CCEF3Manager::m_hQuitWnd, WM_CLOSE, 0, 0);
}

}  // namespace kxcef

void CCEF3Manager::CEFPreapare() {
    // A fresh instance becomes current; browsers already listed stay listed.
    delete kxcef::ExchangeManagerInstance(new CCEF3Manager());
}

void CCEF3Manager::AppendCmdLine(std::string name, std::string value) {
    CCEF3Manager* instance = kxcef::ManagerInstance();
    if (!instance || !instance->m_app) return;
    instance->m_app->ExtraSwitches()[name] = value;
}

std::vector<std::string> CCEF3Manager::GetPreparedCommandLine() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    return g_commandLine;
}

int CCEF3Manager::CEFInit(HINSTANCE /*instance*/) {
    CCEF3Manager* instance = kxcef::EnsureManagerInstance();
    if (!instance || !instance->m_app) return 0;
    // The engine's helper processes run their own entry points; a process
    // started with a process type has nothing left to do here.
    if (platform::IsEngineHelperProcess()) return 0;

    kxcef::SetUiThread();
    if (!g_gtkReady) g_gtkReady = gtk_init_check(nullptr, nullptr);

    std::vector<std::string> line = kxcef::PrepareCommandLine(instance->m_app->ExtraSwitches());
    {
        std::lock_guard<std::mutex> lock(g_stateMutex);
        g_commandLine = line;
        g_switches = kxcef::InterpretCommandLine(line);
    }
    kxcef::LogInfo(kxcef::kLogManager, "CommandLine: " + JoinLine(line));
    kxcef::LogInfo(kxcef::kLogManager,
                   "Profile: " + platform::NativePath(kxcef::ProfileDirectory()) + ", locale zh-CN, languages zh-CN,zh");

    g_engineRunning.store(g_gtkReady);
    kxcef::LogInfo(kxcef::kLogManager, g_gtkReady ? "CefInitiaLize Success" : "CefInitiaLize Failed");
    if (g_gtkReady) {
        // Runs once the host's loop turns, unless the engine stopped before.
        CefRefPtr<CCEF3APP> app = instance->m_app;
        kxcef::PostToUi([app] {
            if (kxcef::EngineRunning() && kxcef::CurrentApp() == app) app->OnContextInitialized();
        });
    }
    return -1;
}

void CCEF3Manager::StartEngineProcesses() {
    if (kxcef::EngineRunning() && kxcef::IsUiThread()) kxcef::StartSpareView();
}

CefRefPtr<CCEF3Handler> CCEF3Manager::CreateBrowser(HWND parent, RECT rect, std::string url, bool windowless,
                                                     bool enablePlugins, int fps) {
    CCEF3Manager* instance = kxcef::ManagerInstance();
    if (!instance) return nullptr;
    CefRefPtr<CCEF3Handler> handler(new CCEF3Handler());
    handler->SetMainWindowHandle(parent);
    if (windowless) {
        handler->InitOSRPaintContext(parent, rect, fps);
        handler->DealOSRInputMsg(parent, true);
    } else {
        handler->SetBrowserBoundary(rect);
        handler->DealOSRInputMsg(parent, false);
    }

    kxcef::BrowserCreateParams params;
    params.parent = parent;
    params.rect = rect;
    params.url = std::move(url);
    params.windowless = windowless;
    params.enablePlugins = enablePlugins;
    bool created = kxcef::EngineRunning() && kxcef::CreateBrowserAsync(handler, params);

    if (CefRefPtr<CCEF3APP> app = instance->m_app) {
        if (CJSCallbackHandler* js = app->binding().jsHandler)
            handler->AddASynCPPCallBack(
                CCEF3JSDelegate<CJSCallbackHandler, CJSCallbackHandler>(js, &CJSCallbackHandler::OnAsynJsEventFrom));
    }
    if (m_pListener) m_pListener->Add(handler.get());
    kxcef::LogInfo(kxcef::kLogManager, created ? "CreateBrowser Success" : "CreateBrowser Failed");
    return handler;
}

bool CCEF3Manager::SendJsCommand(std::string functionName, std::vector<VARIANT>& args, int browserId) {
    return SendJsCommandTo(std::move(functionName), args, browserId, 0);
}

bool CCEF3Manager::SendJsCommandTo(std::string functionName, std::vector<VARIANT>& args, int browserId,
                                   std::uint64_t document) {
    CCEFJSCommandListener* list = m_pListener;
    if (!list) return false;
    CefRefPtr<CCEF3Handler> handler =
        list->FindFirst([browserId](CCEF3Handler* h) { return h->GetBrowserId() == browserId; });
    if (!handler) return false;
    return handler->SendJSCommandTo(std::move(functionName), args, document);
}

bool CCEF3Manager::IsTrustedPageAddress(const std::string& url) {
    std::string origin = OriginOfAddress(url);
    return !origin.empty() && kxcef::PageOriginTrusted(origin);
}

bool CCEF3Manager::CloseAllBrowser(HWND quitWnd) {
    CCEFJSCommandListener* list = m_pListener;
    if (!list || list->Empty()) return false;
    m_hQuitWnd = quitWnd;
    for (const CefRefPtr<CCEF3Handler>& handler : list->Snapshot()) handler->CloseBrowser();
    return true;
}

void CCEF3Manager::RemoveJsCommandListener(CCEF3Handler* handler) { kxcef::LeaveCommandListener(handler); }

void CCEF3Manager::CEFShutDown() {
    if (kxcef::EngineRunning() && kxcef::IsUiThread()) {
        kxcef::DropSpareView();
        kxcef::CloseAllBrowsersNow();
        kxcef::ProfileContext::FlushAll();
    }
    CCEF3Manager* instance = kxcef::ExchangeManagerInstance(nullptr);
    if (instance) {
        // Workers may be sending a page command right now: the list stays,
        // without browsers, and their commands go nowhere.
        m_pListener->Clear();
        instance->m_app = nullptr;
        delete instance;
    }
    m_hQuitWnd = nullptr;
    g_engineRunning.store(false);
    kxcef::LogInfo(kxcef::kLogManager, "CefShutdown");
}
