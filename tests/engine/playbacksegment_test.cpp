// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdint>

#include <gtest/gtest.h>

#include "engine/playbacksegment.h"

using namespace std::chrono_literals;

namespace {

// A joined file: 2 s at 44.1 kHz stereo, then a part at 48 kHz mono. The
// second segment goes on from the time the first one's written sound ends and
// counts its own frames at its own rate; file frames run on across the change,
// so they no longer tell the time at one rate.
TEST(PlaybackSegment, TellsFileTimeAtEachSegmentsOwnRateAcrossAChangeOfFormat)
{
    PlaybackSegment first{0, 0.0, 44100, 2};
    first.written = std::int64_t{2} * 44100;
    EXPECT_DOUBLE_EQ(first.seconds(22050), 0.5);
    EXPECT_DOUBLE_EQ(first.writtenSeconds(), 2.0);
    EXPECT_EQ(first.timeLeft(44100), 1s);
    EXPECT_FALSE(first.allHeard(first.written - 1));
    EXPECT_TRUE(first.allHeard(first.written));

    PlaybackSegment second{first.fileFrame(first.written), first.writtenSeconds(), 48000, 1};
    second.written = 48000 * 3 / 2;
    EXPECT_EQ(second.fileFrame(12000), 2 * 44100 + 12000);
    EXPECT_DOUBLE_EQ(second.seconds(12000), 2.25);
    EXPECT_DOUBLE_EQ(second.writtenSeconds(), 3.5);
    EXPECT_EQ(second.timeLeft(24000), 1s);
    // The output may count a little past what it was given: nothing is left.
    EXPECT_EQ(second.timeLeft(second.written + 480), 0us);
}

} // namespace
