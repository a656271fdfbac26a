// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "output/haltfade.h"
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

// What a backend puts in place of what it has not played: the segment from
// the frame it asks for, ramped down over the fade, silence after it; near
// the segment's end the ramp shortens to what is left, so it still reaches
// silence; frames no longer kept, or a buffer that cannot hold the fade, give
// nothing, and the backend drops its queue instead.
TEST(HaltFade, FadesFromTheFrameAskedToSilenceShortenedAtTheSegmentsEnd)
{
    constexpr std::int16_t level = 11000;
    constexpr std::int64_t fadeFrames = 10;
    HaltFade fade;
    fade.restart(channels, 100, fadeFrames);
    const std::vector<std::int16_t> steady(std::size_t{250} * channels, level);
    fade.append(steady.data(), 250);
    EXPECT_EQ(fade.written(), 250);

    const auto rendered = [&](std::int64_t from, std::int64_t frames = 30) {
        std::vector<std::int16_t> out(static_cast<std::size_t>(frames * channels), -1);
        const std::optional<std::int64_t> sounding = fade.render(from, out.data(), frames);
        return std::pair{sounding, out};
    };
    const auto expectRamp = [&](const std::vector<std::int16_t>& out, std::int64_t length) {
        for (std::int64_t f = 0; f < 30; ++f) {
            const std::int64_t gain = std::max<std::int64_t>(length - f, 0);
            for (int c = 0; c < channels; ++c)
                ASSERT_EQ(out[static_cast<std::size_t>(f * channels + c)], level * gain / (length + 1)) << f;
        }
    };

    const auto [whole, wholeOut] = rendered(200);
    ASSERT_EQ(whole, fadeFrames);
    expectRamp(wholeOut, fadeFrames);

    const auto [shortened, shortenedOut] = rendered(246);
    ASSERT_EQ(shortened, 4);
    expectRamp(shortenedOut, 4);

    EXPECT_FALSE(rendered(149).first.has_value());
    EXPECT_FALSE(rendered(200, fadeFrames - 1).first.has_value());

    fade.restart(channels, 100, fadeFrames);
    const auto [fresh, freshOut] = rendered(0);
    EXPECT_EQ(fresh, 0);
    expectRamp(freshOut, 0);
}

} // namespace
