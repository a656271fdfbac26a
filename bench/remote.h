// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// A player as the latency measure drives it, however that is done. Each
// command returns once it has been given; false if it could not be.
class Remote {
public:
    virtual ~Remote() = default;
    // Plays `file`, in place of any playing.
    virtual bool load(const std::string& file) = 0;
    virtual bool pause() = 0;
    virtual bool resume() = 0;
    virtual bool stop() = 0;
};
