// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "output/writtenhistory.h"

namespace {

constexpr int channels = 2;

// Sample c of segment frame f, distinct for every frame the tests write.
std::int16_t sampleOf(std::int64_t frame, int channel)
{
    return static_cast<std::int16_t>(frame * channels + channel);
}

std::vector<std::int16_t> frames(std::int64_t from, std::int64_t count)
{
    std::vector<std::int16_t> samples;
    for (std::int64_t f = from; f < from + count; ++f) {
        for (int c = 0; c < channels; ++c)
            samples.push_back(sampleOf(f, c));
    }
    return samples;
}

// Writes frames [0, total) in writes of `step` frames.
void writeInSteps(WrittenHistory& history, std::int64_t total, std::int64_t step)
{
    for (std::int64_t at = 0; at < total; at += step) {
        const auto samples = frames(at, std::min(step, total - at));
        history.append(samples.data(), samples.size() / channels);
    }
}

std::optional<std::vector<std::int16_t>> copied(const WrittenHistory& history, std::int64_t from, std::int64_t count)
{
    std::vector<std::int16_t> out(static_cast<std::size_t>(count * channels), -1);
    if (!history.copy(from, count, out.data()))
        return std::nullopt;
    return out;
}

// A history of 100 frames after 250 written, in writes that straddle its
// wrap, and in one write longer than itself: frames 150 to 249 are kept.
TEST(WrittenHistory, ReturnsTheSamplesOfASegmentFrameAfterWrapping)
{
    for (const std::int64_t step : {7, 100, 250}) {
        SCOPED_TRACE(step);
        WrittenHistory history;
        history.resize(100, channels);
        writeInSteps(history, 250, step);
        EXPECT_EQ(history.written(), 250);

        EXPECT_EQ(copied(history, 150, 100), frames(150, 100));
        EXPECT_EQ(copied(history, 195, 10), frames(195, 10));
        EXPECT_EQ(copied(history, 249, 1), frames(249, 1));
        EXPECT_EQ(copied(history, 200, 0), std::vector<std::int16_t>{});
    }
}

TEST(WrittenHistory, RefusesFramesOverwrittenOrNotWrittenAndCountsAgainAfterARestart)
{
    WrittenHistory history;
    history.resize(100, channels);
    writeInSteps(history, 250, 30);
    EXPECT_FALSE(copied(history, 149, 10).has_value());
    EXPECT_FALSE(copied(history, 245, 10).has_value());
    EXPECT_FALSE(copied(history, -1, 1).has_value());

    history.restart();
    EXPECT_EQ(history.written(), 0);
    EXPECT_FALSE(copied(history, 0, 1).has_value());
    writeInSteps(history, 20, 20);
    EXPECT_EQ(copied(history, 0, 20), frames(0, 20));

    // Before the stream's format is known, nothing is kept.
    WrittenHistory empty;
    const auto samples = frames(0, 10);
    empty.append(samples.data(), 10);
    EXPECT_EQ(empty.written(), 10);
    EXPECT_FALSE(copied(empty, 5, 1).has_value());
}

} // namespace
