// What a second start hands to the running instance through the single-instance
// guard, and what the running instance does with it: restore its main window
// and, when a start channel came with it, write it to "out_start.ini" and let
// the main window report it (message 2026). The channel travels with the
// message, so each start's channel is reported exactly once however many
// starts arrive together. The desktop's activation token of the second start
// travels too, so that the compositor lets the first instance come forward.
#pragma once

#include <string>

#include "platform/instance_guard.h"

struct HandOverRequest {
    bool hasStartCid = false;  // the switch was given (its value may be empty)
    std::wstring startCid;
    // The desktop's token for the second start (XDG_ACTIVATION_TOKEN on
    // Wayland, DESKTOP_STARTUP_ID on X11): with it the running instance may
    // take the focus where the compositor stops windows taking it by
    // themselves. Printable ASCII, at most kMaxActivationToken bytes; else none.
    std::string activationToken;
};

constexpr std::size_t kMaxActivationToken = 1024;

// The token the desktop gave this start, from its environment (empty when none).
std::string ActivationTokenOfThisStart();

std::string EncodeHandOver(const HandOverRequest& request);
// False for anything that is not a hand-over of this client.
bool DecodeHandOver(const std::string& message, HandOverRequest& request);

// The running instance's side, on the UI thread. `startIni` is the path of
// "out_start.ini" (platform/state_dirs.h).
void AcceptHandOver(const std::wstring& startIni, const platform::HandOverEvent& event);
