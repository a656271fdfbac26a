// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "harness/pcm.h"
#include "harness/soundserver.h"
#include "sinkclock.h"

// Watches a recording of the sink as it grows, and learns the wall time of
// each frame (SinkClock) from its looks at the recording's length.
//
// The clock is learnt afresh after each change, over a stretch where the
// sink is steady, so that nothing from the change itself (a stream starting,
// the server rewinding its sink) or from the recorder's start weighs on it.
class SinkWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int rate = 44100;
    // Finds a change in the left channel from a frame on; the frame found
    // is counted from the start of what it is given.
    using Finder = std::function<std::optional<std::size_t>(const std::vector<std::int16_t>&)>;

    explicit SinkWatch(const SoundServer::Recording& recording) : recording_(recording) {}

    void restartClock() { clock = SinkClock(rate); }

    // Looks at the recording's length every millisecond for `span`.
    void watch(Clock::duration span)
    {
        const auto start = Clock::now();
        while (Clock::now() - start < span) {
            look();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // The first frame at or after `from` where `find` sees its change,
    // waiting up to `timeout` for it to be recorded.
    std::optional<std::size_t> waitFor(std::size_t from, const Finder& find, Clock::duration timeout) const
    {
        const auto start = Clock::now();
        while (Clock::now() - start < timeout) {
            if (recording_.framesRecorded() > from) {
                if (const auto found = find(readPcm(recording_.path(), rate, 2, from).channel(0)))
                    return from + *found;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::nullopt;
    }

    std::size_t framesRecorded() const { return recording_.framesRecorded(); }

    SinkClock clock{rate};

private:
    void look()
    {
        const std::size_t recorded = recording_.framesRecorded();
        clock.note(Clock::now(), recorded);
    }

    const SoundServer::Recording& recording_;
};
