// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QString>

#include "platform/keystate.h"

class QDBusConnection;

// Says, once, why the chords are off or heard only in part, and what the
// user can do instead. It may be called later, from the event loop, when
// the desktop answers.
using KeyStateReport = std::function<void(const std::string& message)>;

// The key state of this desktop. On X11: the X server's raw key events, else
// the input devices. On Wayland: the input devices where the user may read
// them, else the desktop's global shortcuts through its portal on `bus`
// (naming the program as `appId`), else XWayland's raw key events where
// DISPLAY names an X server. nullptr when nothing can be read at all.
std::unique_ptr<KeyStateSource> systemKeyState(const QDBusConnection& bus, const QString& appId,
                                               const KeyStateReport& report);
