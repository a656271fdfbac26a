// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "harness/windowprobe.h"
#include "harness/x11window.h"

// Pings a window all along, as a window manager does to tell a program that
// has stopped answering (_NET_WM_PING).
class WindowPing : public WindowProbe {
public:
    WindowPing(const std::string& displayName, Window window);
};
