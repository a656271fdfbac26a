// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/playbackclock.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
constexpr auto acquire = std::memory_order_acquire;
constexpr auto release = std::memory_order_release;
}

std::int64_t PlaybackClock::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Without fences, which ThreadSanitizer cannot follow: each field is stored
// with release, so a reader that sees any new field also sees the odd count
// stored before it; and loaded with acquire, so the count's second reading
// comes after them.
void PlaybackClock::publish(double seconds, std::int64_t atNs, bool running, double limitSeconds)
{
    sequence_.store(sequence_.load(relaxed) + 1, relaxed);
    seconds_.store(seconds, release);
    atNs_.store(atNs, release);
    running_.store(running, release);
    limitSeconds_.store(limitSeconds, release);
    sequence_.store(sequence_.load(relaxed) + 1, release);
}

PlaybackClock::Reading PlaybackClock::read() const
{
    for (;;) {
        const std::uint64_t before = sequence_.load(acquire);
        const Reading r{seconds_.load(acquire), atNs_.load(acquire), running_.load(acquire),
                        limitSeconds_.load(acquire)};
        if (before % 2 == 0 && sequence_.load(relaxed) == before)
            return r;
    }
}

bool PlaybackClock::running() const
{
    return read().running;
}

double PlaybackClock::heardSeconds(std::int64_t nowNs) const
{
    const Reading r = read();
    if (!r.running)
        return r.seconds;
    // In floating point: any elapsed time, a pause of days included, stays
    // finite, and the limit holds it.
    const double elapsed = nowNs > r.atNs ? (static_cast<double>(nowNs) - static_cast<double>(r.atNs)) / 1e9 : 0.0;
    return std::max(r.seconds, std::min(r.seconds + elapsed, r.limitSeconds));
}
