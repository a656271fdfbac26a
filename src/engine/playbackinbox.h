// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

struct PlaybackShared;

// A file the engine's thread is asked to open.
struct OpenRequest {
    std::string path;
    // Which open this is: the count of opens asked for, this one included.
    std::uint64_t generation;
    // The commands counted when the open was asked for: any later one
    // (a stop) is obeyed once the file is open.
    std::uint64_t commands;
    // The seeks counted when the open was asked for: those before it, such
    // as the rewind of a stop with no file open, are done with once the file
    // opens at its top; a later one (a stop's rewind) is obeyed after.
    std::uint64_t seeks;
    // Requested once a newer file is asked for, or the engine ends.
    std::stop_token cancel;
};

// What other threads hand the engine's thread, and where that thread waits
// for it: the file to open, and wake-ups to look at PlaybackShared again.
// Outcomes of opens are reported through it too, so that they keep their
// order with the Opening reported when a file is asked for.
class PlaybackInbox {
public:
    using StateChange = std::function<void(int oldState, int newState)>;

    // `stateChange` hears of Opening, on the GUI thread, under the mutex.
    PlaybackInbox(PlaybackShared& shared, StateChange stateChange);

    // GUI thread: asks for `path`, stops what plays and abandons any open in
    // progress. Opening is reported at once unless an open was already in
    // progress.
    void requestOpen(const std::string& path);

    // Any thread: the engine's thread looks at the shared state again.
    void wake();

    // Any thread, once: the engine's thread leaves its next wait, and an open
    // in progress is abandoned.
    void stop();

    // GUI thread: the open in progress, or the one asked for, is abandoned.
    void abandonOpen();

    // Engine thread: waits until woken, asked for a file or stopped, or until
    // `timeout` has passed. Returns false once stopped; otherwise sets `open`
    // to the newest file asked for since the last wait, if there is one.
    bool waitForWork(std::optional<std::chrono::microseconds> timeout, std::optional<OpenRequest>& open);

    // Engine thread: runs `report` under the mutex and returns true, unless a
    // file newer than open `generation` was asked for: that one's Opening is
    // reported already and its own outcome follows, so this one is dropped;
    // and once stopped, when nothing is reported any more.
    bool reportUnlessSuperseded(std::uint64_t generation, const std::function<void()>& report);

private:
    PlaybackShared& shared_;
    const StateChange stateChange_;

    // Lock order: the output's own lock (libpulse's main loop lock) first,
    // then this mutex, which the output's callbacks take through wake(). So
    // nothing is called on the output while this mutex is held.
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    // Guarded by mutex_.
    bool stopping_ = false;
    bool woken_ = false;
    std::string pendingPath_;
    std::uint64_t pendingCommands_ = 0;
    std::uint64_t pendingSeeks_ = 0;
    std::stop_source openCancel_;
    // The open last handed to the engine's thread. Guarded by mutex_.
    std::uint64_t handedOpen_ = 0;
};
