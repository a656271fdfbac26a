// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Whether a window can be shown: a Wayland display is named, or the named X
// display accepts a connection, or a Qt platform is chosen explicitly.
// Sets `error` when not.
bool displayAvailable(std::string& error);
