#include "core/shell/main_wnd.h"

#include "common/client_config.h"
#include "common/core_protocol.h"
#include "common/log_record.h"
#include "core/shell/browser_ctrl.h"
#include "core/shell/module_state.h"
#include "core/shell/window_placement.h"
#include "platform/debug_output.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/state_dirs.h"
#include "platform/text.h"

#include <algorithm>

using namespace QNInterface::WND;

namespace {

CQNMainWnd* g_mainWindow = nullptr;  // the holder: lives until the process ends
bool g_flashPhase = false;           // shared by the whole module

const RECT kDragBand{0, 0, 1400, 60};

std::wstring SkinPath(const wchar_t* file) {
    return std::wstring(UiLib::CPaintManagerUI::GetInstancePath().str()) + L"Skin/Main/" + file;
}

// The tray tooltip holds 127 characters with its terminator: longer names are cut with an ellipsis.
std::wstring TrayTooltip(const std::string& ansiName) {
    std::wstring tip = platform::AnsiToWide(ansiName);
    if (tip.size() >= 127) tip = tip.substr(0, 123) + L"...";
    return tip;
}

}  // namespace

CQNMainWnd* MainWindow() { return g_mainWindow; }

IQNWebWnd* CreateMainWindow(IWebWndManager* registry, const std::wstring& address) {
    if (g_mainWindow) return g_mainWindow;
    std::wstring skin = SkinPath(L"ClientMainWnd.xml");
    g_mainWindow = new CQNMainWnd(skin, registry);
    if (!platform::FileExists(skin)) {
        platform::OutputDebugStringW(L"<CQNNormalWnd> This is an invalid window, please check it.");
        return nullptr;
    }
    g_mainWindow->EnableDrag(kDragBand);
    g_mainWindow->SetStartAddress(address);
    ChannelInfo channel = CClientConfig::Get()->GetChannelInfo();
    if (!g_mainWindow->Create(nullptr, channel.displayName.c_str(), CQNMainWnd::kStyle, 0, 0, 0, 0, 0)) {
        platform::OutputDebugStringW(L"<CQNNormalWnd> The main window could not be created.");
        return nullptr;
    }
    g_mainWindow->PlaceOnScreen();
    g_mainWindow->ShowWindow(true, true);
    g_mainWindow->SetIcon(CQNMainWnd::kIconResource);
    // A termination signal ends the client as the tray menu's "close" does.
    UiLib::PostMessageOnTerminationSignal(g_mainWindow->GetHWND(), WM_CLOSE);
    return g_mainWindow;
}

CQNMainWnd::CQNMainWnd(std::wstring skinPath, IWebWndManager* registry)
    : CQNWebWnd(core_protocol::kMainWindowClass, std::move(skinPath), registry) {}

CQNMainWnd::~CQNMainWnd() = default;

POINT PlaceTrayMenu(POINT cursor, int width, int height, const RECT& work) {
    POINT at;
    at.x = cursor.x;
    at.y = cursor.y - height;
    if (at.y < work.top) at.y = cursor.y;
    at.x = std::max<LONG>(std::min<LONG>(at.x, work.right - width), work.left);
    at.y = std::max<LONG>(std::min<LONG>(at.y, work.bottom - height), work.top);
    return at;
}

void CQNMainWnd::PlaceOnScreen() {
    HWND hwnd = GetHWND();
    UiLib::GetWindowRect(hwnd, &normalRect_);
    WindowPlacement saved;
    if (!LoadWindowPlacement(platform::ProcessStateDirs().windowStatePath, &saved)) {
        CenterWindow();
        UiLib::GetWindowRect(hwnd, &normalRect_);
        return;
    }
    // A place only where this program places its windows; elsewhere the compositor does.
    bool hasPlace = saved.hasPlace && UiLib::CanPlaceWindows();
    RECT work;
    if (!UiLib::GetWorkAreaOf(hasPlace ? saved.rect : normalRect_, &work)) return;
    RECT minimum = paintManager_.GetMinInfo();
    RECT fitted = FitToWorkArea(saved.rect, hasPlace, work, minimum.right, minimum.bottom);
    UiLib::SetWindowPos(hwnd, nullptr, fitted.left, fitted.top, fitted.right - fitted.left, fitted.bottom - fitted.top,
                        SWP_NOZORDER | SWP_NOACTIVATE);
    UiLib::GetWindowRect(hwnd, &normalRect_);
    if (saved.maximized) UiLib::PostMessageW(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
}

void CQNMainWnd::SavePlacement() {
    HWND hwnd = GetHWND();
    WindowPlacement placement;
    placement.maximized = UiLib::IsZoomed(hwnd) != FALSE;
    placement.rect = normalRect_;
    if (!placement.maximized && !UiLib::IsIconic(hwnd)) UiLib::GetWindowRect(hwnd, &placement.rect);
    placement.hasPlace = UiLib::CanPlaceWindows() != FALSE;
    if (placement.rect.right <= placement.rect.left || placement.rect.bottom <= placement.rect.top) return;
    if (!SaveWindowPlacement(platform::ProcessStateDirs().windowStatePath, placement))
        QM_LOG("CQNMainWnd") << "<qm> the window's size and place could not be kept";
}

bool CQNMainWnd::TrayIconVisible() const {
    return trayAdded_ && UiLib::GetNotifyIconHost(hwnd_, kTrayIconId) != UiLib::NotifyIconHost::Nobody;
}

void CQNMainWnd::CloseToTray(bool minimiseFirst) {
    HWND hwnd = GetHWND();
    if (!TrayIconVisible()) {
        UiLib::ShowWindow(hwnd, SW_MINIMIZE);
        return;
    }
    if (minimiseFirst) UiLib::ShowWindow(hwnd, SW_MINIMIZE);
    UiLib::ShowWindow(hwnd, SW_HIDE);
}

void CQNMainWnd::Init() {
    // The title band names the channel's brand, as the window title does.
    if (UiLib::CControlUI* title = paintManager_.FindControl(L"title")) title->SetText(GetWndText().c_str());
    if (!trayAdded_) AddTrayIcon();
    if (!menu_) {
        menu_ = std::make_unique<CQNPopWnd>(kMenuClassName, SkinPath(L"MenuWnd.xml"), GetHWND());
        menu_->Create(GetHWND(), L"Menu", WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT);
        menu_->ShowWindow(false, false);
        // Trays that draw menus themselves offer this window's items.
        UiLib::SetNotifyIconMenu(GetHWND(), kTrayIconId, menu_->GetHWND());
    }
    if (!startAddress_.empty() && browserCtrl()) browserCtrl()->SetHomePage(startAddress_);
}

void CQNMainWnd::AddTrayIcon() {
    UiLib::NOTIFYICONDATAW data;
    data.hWnd = GetHWND();
    data.uID = kTrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = core_protocol::kTrayCallbackMessage;
    data.hIcon = UiLib::LoadIconW(UiLib::CPaintManagerUI::GetInstance(), kIconResource);
    std::wstring tip = TrayTooltip(CClientConfig::Get()->GetChannelInfo().displayNameAnsi);
    tip.copy(data.szTip, 127);
    if (!UiLib::Shell_NotifyIconW(NIM_ADD, &data)) platform::OutputDebugStringW(L"<CQNMainWnd> tray icon add failed");
    trayAdded_ = true;  // marked even when the add failed
}

void CQNMainWnd::DeleteTrayIcon() {
    if (!trayAdded_) return;
    UiLib::NOTIFYICONDATAW data;
    data.hWnd = GetHWND();
    data.uID = kTrayIconId;
    if (!UiLib::Shell_NotifyIconW(NIM_DELETE, &data))
        platform::OutputDebugStringW(L"<CQNMainWnd> tray icon delete failed");
    trayAdded_ = false;
}

void CQNMainWnd::ModifyTrayIcon(bool showIcon) {
    if (!trayAdded_) return;
    UiLib::NOTIFYICONDATAW data;
    data.hWnd = GetHWND();
    data.uID = kTrayIconId;
    data.uFlags = NIF_ICON;
    data.hIcon = showIcon ? UiLib::LoadIconW(UiLib::CPaintManagerUI::GetInstance(), kIconResource) : nullptr;
    if (!UiLib::Shell_NotifyIconW(NIM_MODIFY, &data))
        platform::OutputDebugStringW(L"<CQNMainWnd> tray icon modify failed");
}

void CQNMainWnd::StartFlashTrayIcon() {
    if (!GetHWND() || !trayAdded_) return;
    if (flashing_) {
        if (UiLib::KillTimer(GetHWND(), kFlashTimerId)) flashing_ = false;
        else platform::OutputDebugStringA("StartFlashTrayIcon, KillTimer fail");
    }
    if (UiLib::SetTimer(GetHWND(), kFlashTimerId, kFlashPeriodMs)) flashing_ = true;
    else platform::OutputDebugStringA("StartFlashTrayIcon, SetTimer fail");
    ModifyTrayIcon(false);
    RequestAttention(true);
}

void CQNMainWnd::StopFlashTrayIcon() {
    if (!GetHWND() || !trayAdded_) return;
    if (flashing_) {
        if (UiLib::KillTimer(GetHWND(), kFlashTimerId)) flashing_ = false;
        else platform::OutputDebugStringA("StopFlashTrayIcon, KillTimer fail");
    }
    ModifyTrayIcon(true);
    RequestAttention(false);
}

void CQNMainWnd::RequestAttention(bool attention) {
    // The taskbar and trays that show attention themselves (instead of the
    // blinking icon) learn it from the window.
    UiLib::FLASHWINFO info;
    info.hwnd = GetHWND();
    info.dwFlags = attention ? (UiLib::FLASHW_TRAY | UiLib::FLASHW_TIMER) : UiLib::FLASHW_STOP;
    UiLib::FlashWindowEx(&info);
}

void CQNMainWnd::ReportStartChannel() {
    std::wstring ini = platform::ProcessStateDirs().startIniPath;
    platform::ReadStatus status = platform::ReadStatus::Ok;
    std::vector<std::wstring> lines = platform::ReadIniSection(ini, L"Start_Cid", &status);
    if (status != platform::ReadStatus::Ok && status != platform::ReadStatus::Missing)
        QM_LOG("CQNMainWnd") << "<qm> out_start.ini " << platform::ReadStatusText(status) << ", no start channel reported";
    if (lines.empty() || lines.front().empty()) return;
    SendLaunchReport(platform::WideToAnsi(lines.front()), "", "", "");
}

LRESULT CQNMainWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            SavePlacement();
            UiLib::ShowWindow(GetHWND(), SW_HIDE);
            DeleteTrayIcon();
            UiLib::PostMessageW(GetHWND(), WM_QUIT, 0, 0);
            break;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                CloseToTray();  // the window manager's close hides to the tray
                return 0;
            }
            if ((wParam & 0xFFF0) == SC_MAXIMIZE && !UiLib::IsZoomed(GetHWND()) && !UiLib::IsIconic(GetHWND()))
                UiLib::GetWindowRect(GetHWND(), &normalRect_);
            break;
        case WM_TIMER:
            if (wParam == kFlashTimerId) {
                g_flashPhase = !g_flashPhase;
                ModifyTrayIcon(g_flashPhase);
            }
            break;
        case core_protocol::kStartFlashMessage:
            StartFlashTrayIcon();
            break;
        case core_protocol::kStartChannelMessage:
            ReportStartChannel();
            break;
        default:
            break;
    }
    return CQNWebWnd::HandleMessage(message, wParam, lParam);
}

LRESULT CQNMainWnd::HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (message == core_protocol::kTrayCallbackMessage) {
        if (lParam == WM_LBUTTONUP) {
            ShowWindow(true, true);
            UiLib::SetForegroundWindow(GetHWND());
            if (flashing_) StopFlashTrayIcon();
        } else if (lParam == WM_RBUTTONUP && menu_ && menu_->GetHWND()) {
            RECT rc;
            POINT cursor;
            UiLib::GetWindowRect(menu_->GetHWND(), &rc);
            UiLib::GetCursorPos(&cursor);
            RECT at{cursor.x, cursor.y, cursor.x + 1, cursor.y + 1};
            RECT work;
            if (!UiLib::GetWorkAreaOf(at, &work)) UiLib::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
            POINT place = PlaceTrayMenu(cursor, rc.right - rc.left, rc.bottom - rc.top, work);
            // Placed before it shows: it never flashes up off the screen.
            UiLib::SetWindowPos(menu_->GetHWND(), nullptr, place.x, place.y, 0, 0, SWP_NOSIZE);
            menu_->ShowWindow(true, true);
        }
    }
    return CQNWebWnd::HandleCustomMessage(message, wParam, lParam, handled);
}

void CQNMainWnd::Notify(UiLib::TNotifyUI& msg) {
    if (msg.sType == L"click" && msg.pSender) {
        UiLib::CDuiString name = msg.pSender->GetName();
        if (name == L"close") CloseToTray();
        else if (name == L"min") UiLib::PostMessageW(GetHWND(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    }
    CQNWebWnd::Notify(msg);
}
