#pragma once

#include <string>

// Whether a window can be shown: a Wayland display is named, or the named X
// display accepts a connection, or a Qt platform is chosen explicitly.
// Sets `reason` when not.
bool displayAvailable(std::string& reason);
