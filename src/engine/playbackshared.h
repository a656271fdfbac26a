// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/enginestates.h"
#include "engine/playbackclock.h"

// State shared by the engine's facade on the GUI thread and the engine's own
// thread. Every field has one writer; the other side only reads it, without
// locks. Commands are counted: the GUI thread writes what it asks for and then
// bumps a count; the engine's thread writes the state it has reached and the
// count it has caught up with. A reader sees what was asked until the engine
// has caught up, and what the engine reports after.
struct PlaybackShared {
    // Written by the GUI thread only.
    // The play state last asked for (play, pause, stop, or stopped by a new
    // file), and how many times one was asked for.
    std::atomic<int> commandedPlayState{PlayState::Stopped};
    std::atomic<std::uint64_t> commands{0};
    // Files asked for; bumped under the inbox's mutex as the path is handed
    // over (PlaybackInbox::requestOpen).
    std::atomic<std::uint64_t> opensRequested{0};
    // A seek is pending while requested != done; the position reads as the
    // target meanwhile.
    std::atomic<double> seekTarget{0.0};
    std::atomic<std::uint64_t> seekRequested{0};

    // Written by the engine's thread only. The outcome of an open is stored
    // under the inbox's mutex, so that it never overtakes a newer request.
    std::atomic<int> playState{PlayState::Stopped};
    std::atomic<std::uint64_t> commandsApplied{0};
    // The outcome of the latest open handled, and which one that was.
    std::atomic<int> openState{OpenState::Closed};
    std::atomic<std::uint64_t> opensHandled{0};
    std::atomic<double> duration{0.0};
    std::atomic<std::uint64_t> seekDone{0};
    PlaybackClock clock;

    int currentOpenState() const
    {
        const std::uint64_t handled = opensHandled.load(std::memory_order_acquire);
        return handled != opensRequested.load() ? OpenState::Opening : openState.load();
    }

    int currentPlayState() const
    {
        const std::uint64_t applied = commandsApplied.load(std::memory_order_acquire);
        return applied != commands.load() ? commandedPlayState.load() : playState.load();
    }
};
