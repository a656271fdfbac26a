// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <fstream>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "harness/withoutserver.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"

// The real engine where no sound server answers.

using namespace std::chrono_literals;

namespace {

// No server and no ALSA device: reported; Play works once a server is back.
TEST(EngineWithoutAudio, NoOutputIsReportedAndPlayingWorksOnceOneIsBack)
{
    const TempDir dir;
    playWithoutServer(dir, "# no devices\n");
    SystemMediaPlayer player;
    QSignalSpy failures(&player, &MediaEngine::playbackFailed);
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(failures.wait(5000));
    EXPECT_TRUE(failures[0][1].toString().contains(QStringLiteral("audio output"))) << failures[0][1].toString().toStdString();
    EXPECT_EQ(player.openState(), OpenState::Closed);
    EXPECT_EQ(player.playState(), PlayState::Stopped);

    const TestSink audio;
    TestSink::useInThisProcess();
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntilOpen(player));
    EXPECT_EQ(player.playState(), PlayState::Playing);
    ASSERT_TRUE(waitUntil([&] { return firstSound(audio.read().channel(0)).has_value(); }, 5s));
}

// Where no sound server answers, ALSA's default device plays: here a file of
// the test's own behind a device that discards, so what was played can be
// read back whole.
TEST(EngineOnAlsa, PlaysThroughTheDefaultDeviceWhereNoServerAnswers)
{
    const TempDir dir;
    const std::string written = dir.file("alsa.raw");
    playWithoutServer(dir, "pcm.!default {\n  type file\n  slave.pcm discard\n  file \"" + written
                               + "\"\n  format raw\n}\npcm.discard { type null }\n");
    SystemMediaPlayer player;
    QSignalSpy failures(&player, &MediaEngine::playbackFailed);
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntilOpen(player));
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 10s));
    EXPECT_TRUE(failures.isEmpty());

    const auto pcm = readPcm(written, cdRate, 2).channel(0);
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *lead + cdRate, cdRate / 2), toneA, 1.0);
    EXPECT_NEAR(static_cast<double>(soundingFrames(pcm, gapFrames)), 4.0 * cdRate, 3.0 * fadeFrames);
}

} // namespace
