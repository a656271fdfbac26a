#include <gtest/gtest.h>

#include "engine/playbackclock.h"

namespace {
constexpr std::int64_t ms = 1'000'000;
}

// A rate of 1000 makes one frame one millisecond.
TEST(PlaybackClock, FollowsRealTimeWithinTheNewestBufferAndNoFurther)
{
    PlaybackClock clock;
    clock.configure(1000, 0);
    EXPECT_EQ(clock.heardFileFrame(0), 0);

    clock.recordBuffer(0, 100, 100, 10 * ms);
    EXPECT_EQ(clock.heardFileFrame(10 * ms), 0);
    EXPECT_EQ(clock.heardFileFrame(60 * ms), 50);
    // A late callback does not let the position run past what was handed over.
    EXPECT_EQ(clock.heardFileFrame(500 * ms), 100);
    // A reader whose clock is behind the callback's sees the buffer's start.
    EXPECT_EQ(clock.heardFileFrame(5 * ms), 0);
}

TEST(PlaybackClock, LatencyDelaysWhatIsHeardAcrossBuffers)
{
    PlaybackClock clock;
    clock.configure(1000, 100);
    clock.recordBuffer(0, 100, 100, 0);
    EXPECT_EQ(clock.heardFileFrame(50 * ms), 0); // still in the device's queue
    clock.recordBuffer(100, 100, 100, 100 * ms);
    EXPECT_EQ(clock.heardFileFrame(100 * ms), 0);
    EXPECT_EQ(clock.heardFileFrame(130 * ms), 30);
}

TEST(PlaybackClock, SilenceHoldsThePositionAtTheEndOfTheContent)
{
    PlaybackClock clock;
    clock.configure(1000, 0);
    clock.recordBuffer(0, 100, 100, 0);
    clock.recordBuffer(100, 100, 40, 100 * ms); // 40 frames, then silence
    EXPECT_EQ(clock.heardFileFrame(120 * ms), 120);
    EXPECT_EQ(clock.heardFileFrame(190 * ms), 140);
    clock.recordBuffer(140, 100, 0, 200 * ms); // paused
    EXPECT_EQ(clock.heardFileFrame(250 * ms), 140);
}

TEST(PlaybackClock, RestartIgnoresEarlierBuffers)
{
    PlaybackClock clock;
    clock.configure(1000, 100);
    for (int i = 0; i < 20; ++i)
        clock.recordBuffer(std::int64_t{i} * 100, 100, 100, std::int64_t{i} * 100 * ms);
    clock.restartAt(0);
    EXPECT_EQ(clock.heardFileFrame(1950 * ms), 0);
    clock.recordBuffer(0, 100, 100, 2000 * ms);
    // The new buffer is not heard yet: the rewound position holds.
    EXPECT_EQ(clock.heardFileFrame(2050 * ms), 0);
    clock.recordBuffer(100, 100, 100, 2100 * ms);
    EXPECT_EQ(clock.heardFileFrame(2120 * ms), 20);
}
