// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <cstring>

#include "platform/evdevkeystate.h"
#include "platform/keystate.h"
#include "platform/x11keystate.h"

namespace {
bool waylandSession()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display != nullptr && *display != '\0') || (type != nullptr && std::strcmp(type, "wayland") == 0);
}
} // namespace

std::unique_ptr<KeyStateSource> systemKeyState(std::string& error)
{
    // On Wayland the X server (if any) sees only keys sent to X programs, so
    // the input devices come first there; on X11 its raw key events see them
    // all.
    std::string evdevError;
    std::string x11Error;
    if (waylandSession()) {
        if (auto evdev = EvdevKeyState::open(evdevError))
            return evdev;
        error = evdevError;
        return nullptr;
    }
    if (auto x11 = X11KeyState::connect(x11Error))
        return x11;
    if (auto evdev = EvdevKeyState::open(evdevError))
        return evdev;
    error = x11Error + "; " + evdevError;
    return nullptr;
}
