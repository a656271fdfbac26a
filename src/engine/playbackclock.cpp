#include "engine/playbackclock.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
}

std::int64_t PlaybackClock::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PlaybackClock::publish(double seconds, std::int64_t atNs, bool running, double limitSeconds)
{
    sequence_.store(sequence_.load(relaxed) + 1, relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    seconds_.store(seconds, relaxed);
    atNs_.store(atNs, relaxed);
    running_.store(running, relaxed);
    limitSeconds_.store(limitSeconds, relaxed);
    sequence_.store(sequence_.load(relaxed) + 1, std::memory_order_release);
}

PlaybackClock::Reading PlaybackClock::read() const
{
    for (;;) {
        const std::uint64_t before = sequence_.load(std::memory_order_acquire);
        const Reading r{seconds_.load(relaxed), atNs_.load(relaxed), running_.load(relaxed),
                        limitSeconds_.load(relaxed)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before % 2 == 0 && sequence_.load(relaxed) == before)
            return r;
    }
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
