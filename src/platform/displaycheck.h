// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Chooses where the window opens, before Qt is started, so that a desktop
// where none can open gets a reason rather than Qt's abort. A Qt platform
// chosen in QT_QPA_PLATFORM is taken as it is. Where WAYLAND_DISPLAY names a
// compositor that accepts a connection and Qt's Wayland plugin is installed,
// the window is native; otherwise it opens over X11 (XWayland on a Wayland
// desktop) where DISPLAY names a server that accepts a connection, and
// QT_QPA_PLATFORM says so to Qt. Sets `error` when no window can open.
bool chooseDisplay(std::string& error);
