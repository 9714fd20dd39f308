// CQNMainWnd: the client's only top-level window. It shows the web front-end,
// owns the tray icon (flashing on demand) and its menu, hides to the tray when
// closed by the user, and ends the message loop when closed for good.
#pragma once

#include <memory>

#include "common/core_protocol.h"
#include "core/shell/pop_wnd.h"
#include "core/shell/web_wnd.h"

class CQNMainWnd : public QNInterface::WND::CQNWebWnd {
public:
    static constexpr const wchar_t* kMenuClassName = L"PX_MENU";
    static constexpr UINT kTrayIconId = 108;
    static constexpr UINT kIconResource = 108;
    static constexpr UINT_PTR kFlashTimerId = 11025;
    static constexpr UINT kFlashPeriodMs = 500;
    static constexpr DWORD kStyle = 0x00CB0000;

    CQNMainWnd(std::wstring skinPath, QNInterface::WND::IWebWndManager* registry);
    ~CQNMainWnd() override;

    void SetStartAddress(const std::wstring& address) { startAddress_ = address; }
    const std::wstring& startAddress() const { return startAddress_; }
    bool trayIconAdded() const { return trayAdded_; }
    bool flashing() const { return flashing_; }

    void Notify(UiLib::TNotifyUI& msg) override;
    // The user's close (the close box, the window manager's close, the page's
    // "_close_window"): hides to the tray where a tray shows the icon, else
    // (no tray on this desktop) minimises, so the window stays in reach.
    void CloseToTray(bool minimiseFirst = false);
    bool TrayIconVisible() const;
    // Size and place of the last run (or centred), fitted to this screen.
    void PlaceOnScreen();

protected:
    void Init() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) override;

private:
    void AddTrayIcon();
    void DeleteTrayIcon();
    void ModifyTrayIcon(bool showIcon);
    void StartFlashTrayIcon();
    void StopFlashTrayIcon();
    void RequestAttention(bool attention);
    void ReportStartChannel();
    void SavePlacement();

    std::wstring startAddress_;
    std::unique_ptr<QNInterface::WND::CQNPopWnd> menu_;
    bool trayAdded_ = false;
    bool flashing_ = false;
    RECT normalRect_;  // the frame before the window was maximised
};

// Where the tray menu opens for a right click at `cursor`: its bottom-left
// corner at the cursor where that fits (a taskbar at the bottom), else its
// top-left corner (a panel at the top), always inside `work`.
POINT PlaceTrayMenu(POINT cursor, int width, int height, const RECT& work);

// Creates the main window (once) with the registry and the start address; its
// IQNWebWnd, or null when it could not be made (missing skin).
QNInterface::WND::IQNWebWnd* CreateMainWindow(QNInterface::WND::IWebWndManager* registry, const std::wstring& address);
CQNMainWnd* MainWindow();
