// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/eitherserver.h"
#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "harness/testcard.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"

// Pauses and stops through each server, heard on its sink, as a listener
// makes them: each after a while of steady play, when the server's queue is
// full. Silent at once, and faded, not cut: no step between samples at a
// change much larger than the tone's own, where the sound stops or starts
// again.

using namespace std::chrono_literals;

namespace {

// Steady play before each change, as a listener pauses after a while.
constexpr std::size_t steadyFrames = cdRate * 6 / 10;
// PipeWire's PulseAudio service plays out what its graph has read, a cycle of
// up to 21 ms, before a fade can be heard.
constexpr double promptThroughPulseServiceSeconds = 0.060;

// How the player reaches its server: PulseAudio named, as the test's own
// server has no runtime folder of its own; PipeWire found as a desktop's
// client finds it, by the runtime folder alone; PipeWire's PulseAudio
// service named; ALSA's default device where no server answers, a sound
// card that plays in real time.
enum class Path { PulseAudio, PipeWire, PipeWirePulseService, Alsa };

std::string pathName(const ::testing::TestParamInfo<Path>& info)
{
    const char* names[] = {"PulseAudio", "PipeWire", "PipeWirePulseService", "Alsa"};
    return names[static_cast<int>(info.param)];
}

void findServer(const EitherServer& server, Path path)
{
    server.useInThisProcess();
    if (path != Path::PipeWire)
        return;
    unsetenv("PULSE_SERVER");
    for (const auto& [name, value] : server.desktopEnvironment())
        setenv(name.c_str(), value.c_str(), 1);
}

class ClickFreeTest : public ::testing::TestWithParam<Path> {
protected:
    ClickFreeTest()
    {
        if (GetParam() == Path::Alsa) {
            card = std::make_unique<TestCard>(dir);
        } else {
            server = std::make_unique<EitherServer>(GetParam() == Path::PulseAudio ? Server::PulseAudio
                                                                                    : Server::PipeWire);
            findServer(*server, GetParam());
            recording = std::make_unique<SoundServer::Recording>(server->clientEnvironment(), dir.file("heard.raw"));
        }
        player = std::make_unique<SystemMediaPlayer>();
    }

    // What the sink or the card has played so far, as recorded.
    const std::string& heardPath() const { return card ? card->path() : recording->path(); }
    std::size_t framesRecorded() const { return card ? card->framesRecorded() : recording->framesRecorded(); }

    // The first sound from `frame` on, once it has been recorded.
    std::optional<std::size_t> soundFrom(std::size_t frame) const
    {
        std::optional<std::size_t> heard;
        waitUntil(
            [&] {
                if (framesRecorded() > frame + fadeFrames)
                    heard = firstSound(readPcm(heardPath(), cdRate, 2, frame).channel(0));
                return heard.has_value();
            },
            2s);
        return heard ? std::optional(frame + *heard) : std::nullopt;
    }

    bool silentFrom(std::size_t frame) const
    {
        return waitUntil(
            [&] {
                const auto pcm = readPcm(heardPath(), cdRate, 2, frame).channel(0);
                return !silentStretches(pcm, gapFrames).empty();
            },
            2s);
    }

    const TempDir dir;
    std::unique_ptr<EitherServer> server;
    std::unique_ptr<SoundServer::Recording> recording;
    std::unique_ptr<TestCard> card;
    std::unique_ptr<SystemMediaPlayer> player;
};

TEST_P(ClickFreeTest, PausesStopsSeeksAndNewFilesAfterSteadyPlayFadeAtOnce)
{
    enum class Change { Pause, Stop, Seek, Replace };
    constexpr Change round[] = {Change::Pause, Change::Stop, Change::Pause, Change::Stop,
                                Change::Pause, Change::Stop, Change::Seek,  Change::Replace};
    const QString file = testFile("cbr44_long.mp3");
    player->setFileName(file);
    std::vector<std::pair<Change, std::size_t>> made;
    for (int i = 0; i < 2 * static_cast<int>(std::size(round)); ++i) {
        const Change change = round[i % std::size(round)];
        const auto sounding = soundFrom(framesRecorded());
        ASSERT_TRUE(sounding.has_value());
        ASSERT_TRUE(waitUntil([&] { return framesRecorded() > *sounding + steadyFrames; }, 3s));
        made.emplace_back(change, framesRecorded());
        if (change == Change::Pause)
            player->pause();
        else if (change == Change::Stop)
            player->stop();
        else if (change == Change::Seek)
            player->setCurrentPosition(0.0);
        else
            player->setFileName(file);
        if (change == Change::Pause || change == Change::Stop) {
            ASSERT_TRUE(silentFrom(made.back().second));
            player->play();
        }
    }
    // What follows the last change is heard.
    ASSERT_TRUE(waitUntil([&] { return framesRecorded() > made.back().second + cdRate / 5; }, 2s));

    const auto pcm = readPcm(heardPath(), cdRate, 2).channel(0);
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    // Where PipeWire's graph misses a cycle on this machine (it logs "client
    // missed wakeups" for the recorder's node, the player's and the sink's
    // alike, and two recorders hear the same gaps), the sink plays nothing of
    // the stream for a cycle of up to 1024 frames at 48 kHz, and the stream
    // goes on after it unfaded: those edges, and the ringing of its resampler
    // within 1 ms of them, are the server's, not a change's.
    const int tonePeak = *std::max_element(pcm.begin() + static_cast<std::ptrdiff_t>(*lead + cdRate / 10),
                                           pcm.begin() + static_cast<std::ptrdiff_t>(*lead + cdRate / 5));
    const auto dropped = droppedCycles(pcm, cdRate / 1000, cdRate * 25 / 1000, tonePeak / 2);
    // The tone's own, where the server dropped none.
    const int toneStep = largestStep(pcm, *lead + cdRate / 10, cdRate / 10, dropped);
    std::vector<double> toSilence;
    int worstStop = 0;
    int worstStart = 0;
    int worstSwitch = 0;
    int clicks = 0;
    for (const auto& [change, called] : made) {
        if (change == Change::Seek || change == Change::Replace) {
            // Faded out and in again, with or without a gap between.
            const int step = largestStep(pcm, called, cdRate / 5, dropped);
            clicks += step > 2 * toneStep ? 1 : 0;
            worstSwitch = std::max(worstSwitch, step);
            continue;
        }
        const auto silence = silentStretches(std::vector(pcm.begin() + static_cast<std::ptrdiff_t>(called), pcm.end()),
                                             gapFrames);
        ASSERT_FALSE(silence.empty());
        const std::size_t from = called + silence.front().start;
        const std::size_t to = from + silence.front().length;
        toSilence.push_back(static_cast<double>(from - called) / cdRate);
        const int stopStep = largestStep(pcm, from - 2 * fadeFrames, 3 * fadeFrames, dropped);
        clicks += stopStep > 2 * toneStep ? 1 : 0;
        worstStop = std::max(worstStop, stopStep);
        worstStart = std::max(worstStart, largestStep(pcm, to - fadeFrames, 3 * fadeFrames, dropped));
    }
    std::sort(toSilence.begin(), toSilence.end());
    const auto times = [&](int step) { return static_cast<double>(step) / toneStep; };
    std::cout << toSilence.size() << " pauses and stops and " << made.size() - toSilence.size()
              << " seeks and new files after steady play, " << clicks << " clicked: silent in a median of "
              << toSilence[toSilence.size() / 2] * 1000 << " ms, at worst " << toSilence.back() * 1000
              << " ms; largest step against the tone's own " << times(worstStop) << "x at a stop, "
              << times(worstStart) << "x at a start, " << times(worstSwitch) << "x at a seek or a new file; "
              << dropped.size() << " cycles dropped by the server\n";
    EXPECT_LT(toSilence.back(),
              GetParam() == Path::PipeWirePulseService ? promptThroughPulseServiceSeconds : promptSeconds);
    EXPECT_LE(worstStop, 2 * toneStep);
    EXPECT_LE(worstStart, 2 * toneStep);
    EXPECT_LE(worstSwitch, 2 * toneStep);
}

INSTANTIATE_TEST_SUITE_P(Servers, ClickFreeTest,
                         ::testing::Values(Path::PulseAudio, Path::PipeWire, Path::PipeWirePulseService, Path::Alsa),
                         pathName);

} // namespace
