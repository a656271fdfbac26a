// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>

#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/eitherserver.h"
#include "engine/enginetestsupport.h"
#include "harness/pactl.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"

// The real engine while its sink is suspended, as a desktop suspends an idle
// or sleeping device, through PulseAudio and through PipeWire. PulseAudio
// stops the sink and the stream with it. pipewire-pulse leaves the sink
// running, so the stream plays on, but a recording of the sink that spans the
// suspension hears nothing more: there the sink is recorded afresh.

using namespace std::chrono_literals;

namespace {

// The position is never further than this from what the sink has played,
// ahead or behind, nor steps back by more. What the measurement adds: the
// recorder's blocks (10 ms each, 30 ms at most under load, printed: a
// reading is compared with the next block too), the sink's monitor passing
// sound on before the sink's clock counts it heard (the null sink's
// configured latency, 10 ms), and a pause's fade (3 ms) playing on past the
// paused sample.
constexpr double heardBound = 0.030;

class SuspendedSinkTest : public ::testing::TestWithParam<Server> {
protected:
    SuspendedSinkTest()
    {
        server.useInThisProcess();
        recordings.push_back(std::make_unique<SoundServer::Recording>(environment, dir.file("heard0.raw")));
        player = std::make_unique<SystemMediaPlayer>();
    }

    void suspendSink(bool suspended)
    {
        ASSERT_TRUE(pactl({"suspend-sink", "null", suspended ? "1" : "0"}, environment));
        if (server.isPipeWire()) {
            const std::string path = dir.file("heard" + std::to_string(recordings.size()) + ".raw");
            recordings.push_back(std::make_unique<SoundServer::Recording>(environment, path));
        }
    }

    // Reads the position and how much the sink has played every 2 ms.
    void follow(std::chrono::milliseconds duration)
    {
        const QDeadlineTimer deadline(duration);
        while (!deadline.hasExpired()) {
            readings.push_back({player->currentPosition(), recordings.size() - 1,
                                recordings.back()->framesRecorded()});
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::msleep(2);
        }
    }

    void play()
    {
        player->play();
        follow(300ms);
    }

    void pause()
    {
        player->pause();
        EXPECT_EQ(player->playState(), PlayState::Paused);
        follow(300ms);
    }

    // Seconds of sound each reading's recording holds when it is taken.
    std::vector<double> soundAtEachReading() const
    {
        std::vector<std::vector<std::size_t>> sounded;
        for (const auto& recording : recordings) {
            const auto pcm = readPcm(recording->path(), cdRate, 2).channel(0);
            std::vector<bool> silent(pcm.size(), false);
            // The first recording begins before the stream: what it holds
            // before the first sound is silence however short. One made
            // afresh begins mid-play, where its origin stands for it.
            if (recording == recordings.front())
                std::fill_n(silent.begin(), static_cast<std::ptrdiff_t>(firstSound(pcm).value_or(pcm.size())), true);
            for (const Stretch& s : silentStretches(pcm, gapFrames))
                std::fill_n(silent.begin() + static_cast<std::ptrdiff_t>(s.start), s.length, true);
            auto& counts = sounded.emplace_back(pcm.size() + 1, 0);
            for (std::size_t i = 0; i < pcm.size(); ++i)
                counts[i + 1] = counts[i] + (silent[i] ? 0 : 1);
        }
        std::vector<double> sound;
        for (const Reading& r : readings) {
            const auto& counts = sounded[r.recording];
            sound.push_back(static_cast<double>(counts[std::min(r.recorded, counts.size() - 1)]) / cdRate);
        }
        return sound;
    }

    // Compares each reading's position with the file time the sink has
    // played: the sound recorded, from where the recording began.
    void expectPositionFollowsTheSink() const
    {
        const auto sound = soundAtEachReading();
        double ahead = 0.0;
        double behind = 0.0;
        double stepBack = 0.0;
        double origin = 0.0;
        std::size_t largestBlock = 0;
        for (std::size_t i = 0; i < readings.size(); ++i) {
            const Reading& r = readings[i];
            if (i > 0 && r.recording == readings[i - 1].recording)
                largestBlock = std::max(largestBlock, r.recorded - readings[i - 1].recorded);
            // The recording grows a block at a time: what the sink had
            // played at a reading is at most what the next block brings,
            // unknown for the readings after its recording's last block.
            std::size_t next = i;
            while (next + 1 < readings.size() && readings[next + 1].recording == r.recording
                   && readings[next].recorded == r.recorded)
                ++next;
            // A recording made afresh begins at the position its first
            // reading shows.
            if (i > 0 && r.recording != readings[i - 1].recording)
                origin = r.position - sound[next];
            const double heard = origin + sound[i];
            if (readings[next].recorded != r.recorded)
                ahead = std::max(ahead, r.position - (origin + sound[next]));
            behind = std::max(behind, heard - r.position);
            if (i > 0)
                stepBack = std::max(stepBack, readings[i - 1].position - r.position);
        }
        std::cout << "position ahead of the sink by up to " << ahead * 1000 << " ms, behind by up to "
                  << behind * 1000 << " ms, stepped back by up to " << stepBack * 1000
                  << " ms; the recorder's largest block: " << 1000.0 * static_cast<double>(largestBlock) / cdRate
                  << " ms\n";
        EXPECT_LT(ahead, heardBound);
        EXPECT_LT(behind, heardBound);
        EXPECT_LT(stepBack, heardBound);
    }

    struct Reading {
        double position;
        std::size_t recording;
        std::size_t recorded;
    };

    const TempDir dir;
    const EitherServer server{GetParam()};
    const std::vector<std::pair<std::string, std::string>> environment = server.clientEnvironment();
    std::vector<std::unique_ptr<SoundServer::Recording>> recordings;
    std::unique_ptr<SystemMediaPlayer> player;
    std::vector<Reading> readings;
};

// Suspended while playing, then paused and played again while suspended.
TEST_P(SuspendedSinkTest, ThePositionHoldsWhileNothingPlaysAndSoundGoesOnWhereItStopped)
{
    player->setFileName(testFile("cbr44_long.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.3; }, 5s));
    follow(200ms);
    suspendSink(true);
    follow(700ms);
    pause();
    play();
    suspendSink(false);
    follow(500ms);
    pause();
    expectPositionFollowsTheSink();
}

// Suspended while paused: the stream stays silent when the sink resumes, and
// the next play goes on from the paused sample.
TEST_P(SuspendedSinkTest, APausedStreamStaysSilentAcrossASuspensionAndPlaysOnFromThePausedSample)
{
    player->setFileName(testFile("cbr44_long.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.3; }, 5s));
    follow(200ms);
    pause();
    suspendSink(true);
    follow(500ms);
    suspendSink(false);
    follow(300ms);
    play();
    pause();
    expectPositionFollowsTheSink();
}

INSTANTIATE_TEST_SUITE_P(Servers, SuspendedSinkTest, EitherServer::each(), EitherServer::name);

} // namespace
