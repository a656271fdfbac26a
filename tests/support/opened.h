// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "support/opened.h"
#include "support/wait.h"

// Processes events until the engine has its file open; false when it has not
// within the timeout.
inline bool waitUntilOpen(const MediaEngine& engine, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    return waitUntil([&] { return engine.openState() == OpenState::Open; }, timeout);
}
