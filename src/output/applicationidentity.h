// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Who plays, as the sound server's mixer shows it: the application's name,
// and its desktop entry's id, which also names its icon.
struct ApplicationIdentity {
    std::string name;
    std::string desktopId;
};
