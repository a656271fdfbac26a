// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "harness/pcm.h"
#include "harness/pipewireserver.h"
#include "harness/sinkinputs.h"
#include "harness/soundserver.h"
#include "harness/tempdir.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"

// The engine playing through a stream of PipeWire's own, found as a desktop's
// client finds it: what the desktop's mixer sees of it, and the daemon's
// loss and return.

using namespace std::chrono_literals;

namespace {

class PipeWireStreamTest : public ::testing::Test {
protected:
    PipeWireStreamTest()
    {
        unsetenv("PULSE_SERVER");
        for (const auto& [name, value] : pipewire.desktopEnvironment())
            setenv(name.c_str(), value.c_str(), 1);
        player = std::make_unique<SystemMediaPlayer>();
    }

    // Sound recorded from `from` on, once a tenth of a second is there.
    bool heardAfter(const SoundServer::Recording& recording, std::size_t from) const
    {
        return waitUntil(
            [&] {
                return recording.framesRecorded() > from + TestSink::rate / 10
                       && firstSound(readPcm(recording.path(), TestSink::rate, 2, from).channel(0)).has_value();
            },
            3s);
    }

    const TempDir dir;
    PipeWireServer pipewire;
    std::unique_ptr<SystemMediaPlayer> player;
};

// Named after each file's title, or its name where it has none, on the
// stream kept for a file of the same format and on one made for another; not
// through PipeWire's PulseAudio service.
TEST_F(PipeWireStreamTest, TheMixerSeesMusicOfItsOwnNamedAfterEachFileOpened)
{
    const std::pair<const char*, const char*> files[] = {
        {"id3v2.mp3", "Test tone"}, {"id3v1.mp3", "Tone at the end"}, {"mono48.mp3", "mono48.mp3"}};
    for (const auto& [file, title] : files) {
        SCOPED_TRACE(file);
        player->setFileName(testFile(file));
        std::vector<SinkInputProperties> streams;
        const bool shown = waitUntil(
            [&] {
                streams = sinkInputs(pipewire.clientEnvironment());
                return streams.size() == 1 && unlikePlayersMusic(streams[0], title).empty();
            },
            3s);
        ASSERT_TRUE(shown) << streams.size() << " streams; "
                           << (streams.empty() ? "" : unlikePlayersMusic(streams[0], title));
        EXPECT_NE(streams[0]["client.api"], "pipewire-pulse");
    }
}

TEST_F(PipeWireStreamTest, LosingTheDaemonIsReportedOnceAndPlayResumesOnceItIsBack)
{
    QSignalSpy failures(player.get(), &MediaEngine::playbackFailed);
    player->setFileName(testFile("cbr44_long.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.3; }, 5s));

    pipewire.killServer();
    ASSERT_TRUE(waitUntil([&] { return !failures.isEmpty(); }, 5s));
    EXPECT_TRUE(failures[0][1].toString().contains(QStringLiteral("audio output was lost")))
        << failures[0][1].toString().toStdString();
    EXPECT_EQ(player->playState(), PlayState::Stopped);
    EXPECT_EQ(player->openState(), OpenState::Open);
    const double heldAt = player->currentPosition();
    EXPECT_GT(heldAt, 0.3);

    pipewire.restart();
    const SoundServer::Recording recording(pipewire.clientEnvironment(), dir.file("after.raw"));
    const std::size_t atPlay = recording.framesRecorded();
    player->play();
    EXPECT_EQ(player->playState(), PlayState::Playing);
    ASSERT_TRUE(heardAfter(recording, atPlay)) << pipewire.describe();
    // On from where it was lost.
    EXPECT_GE(player->currentPosition(), heldAt);
    EXPECT_EQ(failures.size(), 1);
}

} // namespace
