// A headless Wayland compositor for the client's tests on Wayland: sway with
// its headless backend and no Xwayland, on sockets in a private folder, with
// one output of a given size. The test reaches it as a desktop user would:
// its IPC (windows, focus, urgency, output scale), its screenshooter (grim)
// and a pointer device of the test's own (tools/wlpointer), which the
// compositor turns into real pointer events for the window under it. Views
// float (no tiling); a window that asks for activation gets the focus, or is
// marked urgent, as the test says.
#pragma once

#include <json/json.h>

#include <map>
#include <optional>
#include <string>

#include "tests/support/process.h"

namespace qmtest {

struct WaylandView {
    std::string title;
    int x = 0, y = 0, width = 0, height = 0;  // layout (logical) pixels, the content only
    bool focused = false;
    bool urgent = false;
    bool visible = false;  // on the workspace shown
};

class WaylandSession {
public:
    // What the compositor does when a window asks to be activated.
    enum class Activation { Focus, Urgent };
    // An output of width x height device pixels at `scale`.
    WaylandSession(int width, int height, int scale = 1, Activation activation = Activation::Focus);
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // False (and why in `error()`) when the compositor could not be started.
    bool started() const { return started_; }
    const std::string& error() const { return error_; }
    // Environment of a client of this compositor only: its socket, a runtime
    // folder of the client's own, no X display, no backend forced.
    std::map<std::string, std::string> ClientEnv() const;

    // Runs compositor commands ("workspace 2"); true when all succeeded.
    bool Command(const std::string& command);
    // The view of a window with this title, as the compositor has it now.
    std::optional<WaylandView> FindView(const std::string& title);
    // The output's logical size (device pixels over scale).
    int layoutWidth() const { return width_ / scale_; }
    int layoutHeight() const { return height_ / scale_; }
    int scale() const { return scale_; }
    // The whole output at device pixels, as a PNG.
    bool Screenshot(const std::string& png);

    // The test's pointer, at layout coordinates; each returns once the
    // compositor has handled the event.
    bool PointerMove(int x, int y);
    bool PointerDown();
    bool PointerUp();
    // A token as the desktop's launcher gets one for a program it starts
    // (XDG_ACTIVATION_TOKEN); empty when none came.
    std::string ActivationToken();

private:
    std::optional<Json::Value> Ipc(const char* type, const std::string& payload = "");
    bool Pointer(const std::string& command);
    // One answer line of the pointer tool, without its end.
    std::optional<std::string> PointerAnswer();

    TempDir dir_;
    std::string runtime_, socket_, ipcSocket_;
    int width_, height_, scale_;
    int pid_ = -1;
    int pointerPid_ = -1, pointerIn_ = -1, pointerOut_ = -1;
    bool started_ = false;
    std::string error_;
};

}  // namespace qmtest
