// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>

#include <gtest/gtest.h>

#include "engine/eitherserver.h"
#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"

// Pauses and stops through each server, heard on its sink: silent at once,
// and faded, not cut: no step between samples at a change much larger than
// the tone's own, where the sound stops or starts again.

using namespace std::chrono_literals;

namespace {

constexpr int changes = 12;
// Silent within this of the call, the sink's recorder's own delay included.
constexpr double promptSeconds = 0.030;

class ClickFreeTest : public ::testing::TestWithParam<Server> {
protected:
    ClickFreeTest()
    {
        server.useInThisProcess();
        recording = std::make_unique<SoundServer::Recording>(server.clientEnvironment(), dir.file("heard.raw"));
        player = std::make_unique<SystemMediaPlayer>();
    }

    bool soundingFrom(std::size_t frame) const
    {
        return waitUntil([&] { return recording->framesRecorded() > frame + cdRate / 10; }, 2s)
               && firstSound(readPcm(recording->path(), cdRate, 2, frame).channel(0)).has_value();
    }

    bool silentFrom(std::size_t frame) const
    {
        return waitUntil(
            [&] {
                const auto pcm = readPcm(recording->path(), cdRate, 2, frame).channel(0);
                return !silentStretches(pcm, gapFrames).empty();
            },
            2s);
    }

    const TempDir dir;
    const EitherServer server{GetParam()};
    std::unique_ptr<SoundServer::Recording> recording;
    std::unique_ptr<SystemMediaPlayer> player;
};

TEST_P(ClickFreeTest, PausesAndStopsFadeOutAtOnceAndPlayFadesIn)
{
    player->setFileName(testFile("cbr44_long.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.2; }, 5s));
    std::vector<std::size_t> calledAt;
    for (int i = 0; i < changes; ++i) {
        const std::size_t playedAt = recording->framesRecorded();
        ASSERT_TRUE(soundingFrom(playedAt));
        calledAt.push_back(recording->framesRecorded());
        if (i % 2 == 0)
            player->pause();
        else
            player->stop();
        ASSERT_TRUE(silentFrom(calledAt.back()));
        player->play();
    }

    const auto pcm = readPcm(recording->path(), cdRate, 2).channel(0);
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    const int toneStep = largestStep(pcm, *lead + cdRate / 10, cdRate / 10);
    double latest = 0.0;
    int worstStop = 0;
    int worstStart = 0;
    int clicks = 0;
    for (const std::size_t called : calledAt) {
        const auto silence = silentStretches(std::vector(pcm.begin() + static_cast<std::ptrdiff_t>(called), pcm.end()),
                                             gapFrames);
        ASSERT_FALSE(silence.empty());
        const std::size_t from = called + silence.front().start;
        const std::size_t to = from + silence.front().length;
        latest = std::max(latest, static_cast<double>(from - called) / cdRate);
        const int stopStep = largestStep(pcm, from - 2 * fadeFrames, 3 * fadeFrames);
        clicks += stopStep > 2 * toneStep ? 1 : 0;
        worstStop = std::max(worstStop, stopStep);
        worstStart = std::max(worstStart, largestStep(pcm, to - fadeFrames, 3 * fadeFrames));
    }
    std::cout << changes << " pauses and stops, " << clicks << " clicked: silent within " << latest * 1000
              << " ms, largest step " << static_cast<double>(worstStop) / toneStep << "x the tone's own at a stop, "
              << static_cast<double>(worstStart) / toneStep << "x at a start\n";
    EXPECT_LT(latest, promptSeconds);
    EXPECT_LE(worstStop, 2 * toneStep);
    EXPECT_LE(worstStart, 2 * toneStep);
}

INSTANTIATE_TEST_SUITE_P(Servers, ClickFreeTest, EitherServer::each(), EitherServer::name);

} // namespace
