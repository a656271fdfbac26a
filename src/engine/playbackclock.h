// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

// The position being heard, in seconds, as the engine's thread last read it
// from the output, and how it moves on since: in real time while sounding,
// never past what the output was given. Any thread reads it without waiting:
// a sequence counter gives readers a consistent copy.
class PlaybackClock {
public:
    // Engine thread only. `seconds` was heard at `atNs`; while `running`, it
    // advances in real time up to `limitSeconds`.
    void publish(double seconds, std::int64_t atNs, bool running, double limitSeconds);

    double heardSeconds(std::int64_t nowNs) const;
    // Whether the position moves on by itself.
    bool running() const;

    static std::int64_t nowNs();

private:
    struct Reading {
        double seconds;
        std::int64_t atNs;
        bool running;
        double limitSeconds;
    };

    Reading read() const;

    std::atomic<std::uint64_t> sequence_{0};
    std::atomic<double> seconds_{0.0};
    std::atomic<std::int64_t> atNs_{0};
    std::atomic<bool> running_{false};
    std::atomic<double> limitSeconds_{0.0};
};
