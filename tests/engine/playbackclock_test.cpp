// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "engine/playbackclock.h"

namespace {
constexpr std::int64_t ms = 1'000'000;
}

TEST(PlaybackClock, FollowsRealTimeWhileRunningUpToWhatTheOutputWasGiven)
{
    PlaybackClock clock;
    EXPECT_EQ(clock.heardSeconds(0), 0.0);

    clock.publish(1.0, 10 * ms, true, 1.5);
    EXPECT_DOUBLE_EQ(clock.heardSeconds(10 * ms), 1.0);
    EXPECT_DOUBLE_EQ(clock.heardSeconds(260 * ms), 1.25);
    // Past what the output holds it does not run on.
    EXPECT_DOUBLE_EQ(clock.heardSeconds(5000 * ms), 1.5);
    // A reader whose clock is behind the engine's sees the published value.
    EXPECT_DOUBLE_EQ(clock.heardSeconds(5 * ms), 1.0);

    // Halted: the position holds.
    clock.publish(2.0, 300 * ms, false, 4.0);
    EXPECT_DOUBLE_EQ(clock.heardSeconds(900 * ms), 2.0);
}

TEST(PlaybackClock, StaysFiniteAndBoundedForAnyElapsedTime)
{
    PlaybackClock clock;
    const std::int64_t days = std::int64_t{24} * 3600 * 1000 * ms;
    clock.publish(3.0, 0, true, 240.0);
    for (const std::int64_t later : {3 * days, 200 * days, std::numeric_limits<std::int64_t>::max()}) {
        const double heard = clock.heardSeconds(later);
        EXPECT_TRUE(std::isfinite(heard));
        EXPECT_DOUBLE_EQ(heard, 240.0);
    }
    clock.publish(3.0, std::numeric_limits<std::int64_t>::max(), true, 240.0);
    EXPECT_DOUBLE_EQ(clock.heardSeconds(std::numeric_limits<std::int64_t>::min()), 3.0);
}

// Readers on another thread never see a mix of two publications: a held 10 s
// and a running 100 s read 10 and 150 fifty seconds on; a mix would read 60
// or 100.
TEST(PlaybackClock, ReadersSeeWholePublications)
{
    PlaybackClock clock;
    const std::int64_t later = 50'000 * ms;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200'000; ++i) {
            if (i % 2 == 0)
                clock.publish(10.0, 0, false, 10.0);
            else
                clock.publish(100.0, 0, true, 200.0);
        }
        done = true;
    });
    while (!done) {
        const double heard = clock.heardSeconds(later);
        ASSERT_TRUE(heard == 0.0 || heard == 10.0 || heard == 150.0) << heard;
    }
    writer.join();
}
