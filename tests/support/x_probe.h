// Looks at the private X server from outside the client, as a user would see
// it: windows by class and title, their place and map state, screen pixels,
// and real mouse input through xdotool.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qmtest {

struct XWindowInfo {
    std::string id;  // "0x400007"
    std::string title;
    std::string resName, resClass;
    int x = 0, y = 0, width = 0, height = 0;  // absolute
};

// Every window of the screen (`xwininfo -root -tree`).
std::vector<XWindowInfo> ListXWindows();
std::optional<XWindowInfo> FindXWindow(const std::string& resClass, const std::string& title);
// The client's tray icon: a window of class "qm_main" inside the tray host's panel.
std::optional<XWindowInfo> FindTrayIcon();
bool IsViewable(const std::string& id);
// The client's main window (its window class, titled with the channel's
// brand), if it exists.
std::optional<XWindowInfo> FindMainWindow(const std::string& brand = "Rawen");
// Waits until the main window is laid out at the skin's size and shown (it
// exists at 1x1 before); false when that does not happen in `timeoutMs`.
bool WaitMainWindowShown(int timeoutMs, const std::string& brand = "Rawen");
// "R G B" of a screen pixel.
bool Pixel(int x, int y, int rgb[3]);
// Runs xdotool with these arguments (e.g. {"mousemove","10","10","click","1"}).
bool XDo(const std::vector<std::string>& args);
// Drags with the first button from the screen point (x, y) by (dx, dy) in
// five steps, as a hand would, and waits for the main window to stand still
// at (dx, dy) from where it was. Its place then, or after 5 s; nothing when
// the drag could not be made.
std::optional<XWindowInfo> DragMainWindow(int x, int y, int dx, int dy);
bool Screenshot(const std::string& pngPath);
// Runs qm_xclient (tools/xclient) with these arguments; its output, or
// nothing when it failed.
std::optional<std::string> XClient(const std::vector<std::string>& args);
std::string ToolsDir();

}  // namespace qmtest
