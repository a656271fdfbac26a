// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/displaycheck.h"

#include <cstdlib>

#include <X11/Xlib.h>

namespace {
bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}
} // namespace

bool displayAvailable(std::string& error)
{
    if (isSet("QT_QPA_PLATFORM") || isSet("WAYLAND_DISPLAY"))
        return true;
    if (!isSet("DISPLAY")) {
        error = "no display: DISPLAY and WAYLAND_DISPLAY are not set";
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        error = std::string("cannot connect to display ") + std::getenv("DISPLAY");
        return false;
    }
    XCloseDisplay(display);
    return true;
}
