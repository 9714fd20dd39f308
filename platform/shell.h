// Desktop integration: the user's desktop folder and launcher files on it.
#pragma once

#include <string>

namespace platform {

// The user's desktop folder (XDG), empty when there is none.
std::wstring DesktopFolder();

// Writes (replacing) a freedesktop ".desktop" launcher at `path` that starts
// `executable` with `arguments` and shows `iconPath`. False on failure.
bool WriteDesktopLauncher(const std::wstring& path, const std::wstring& name,
                          const std::wstring& executable, const std::wstring& arguments,
                          const std::wstring& iconPath);

}  // namespace platform
