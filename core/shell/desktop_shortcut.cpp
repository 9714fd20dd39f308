#include "core/shell/desktop_shortcut.h"

#include "platform/paths.h"
#include "platform/shell.h"
#include "uilib/UiLib.h"

bool WriteDesktopShortcut(const std::wstring& productName, const std::wstring& launchArguments) {
    std::wstring desktop = platform::DesktopFolder();
    if (desktop.empty() || productName.empty()) return false;
    if (!platform::DirectoryExists(desktop)) return false;
    std::wstring icon = std::wstring(UiLib::CPaintManagerUI::GetInstancePath().str()) + L"Skin/icons/108.png";
    return platform::WriteDesktopLauncher(platform::JoinPath(desktop, productName + L".desktop"), productName,
                                          platform::ExecutablePath(), launchArguments, icon);
}
