// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <limits>

// When each frame of a recording of the sink played, in wall time. The
// recorder's file grows as the sink plays, late now and then but never
// early: over many looks at its length, the earliest arrival tells when its
// frame 0 played. The null sink renders a little ahead (about the
// recorder's latency), and the earliest arrival is when it rendered: a
// change the server makes at once, by rewinding its sink, can show a few
// milliseconds before it was asked for.
class SinkClock {
public:
    using Clock = std::chrono::steady_clock;

    explicit SinkClock(int rate) : rate_(rate) {}

    // The recording held `recorded` frames at `at`.
    void note(Clock::time_point at, std::size_t recorded)
    {
        const double frame0 = seconds(at) - static_cast<double>(recorded) / rate_;
        if (frame0 < frame0_)
            frame0_ = frame0;
    }

    // The frame the sink was playing at `at`.
    double frameAt(Clock::time_point at) const { return (seconds(at) - frame0_) * rate_; }

    // From `at` to when `frame` played, in ms; negative if it played before.
    double msFrom(Clock::time_point at, std::size_t frame) const
    {
        return (static_cast<double>(frame) - frameAt(at)) * 1000.0 / rate_;
    }

private:
    static double seconds(Clock::time_point at) { return std::chrono::duration<double>(at.time_since_epoch()).count(); }

    int rate_;
    double frame0_ = std::numeric_limits<double>::max();
};
