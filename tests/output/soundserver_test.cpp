// SPDX-License-Identifier: GPL-3.0-or-later
#include <iostream>

#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "harness/pcm.h"
#include "harness/sinkinputs.h"
#include "harness/soundserver.h"
#include "support/drops.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"
#include "window/form1.h"
#include "support/cdaudio.h"

using namespace std::chrono_literals;

namespace {

// The real program's window and engine playing through a PulseAudio server
// the test runs itself, heard on the null sink's monitor.
class SoundServerTest : public ::testing::Test {
protected:
    SoundServerTest() : window(new SystemMediaPlayer)
    {
        window.setMessagePresenter([this](const QString& text) { messages.push_back(text); });
        window.show();
    }

    MediaEngine* engine() const { return window.findChild<MediaEngine*>(QStringLiteral("MediaPlayer1")); }

    static std::vector<std::int16_t> heard(const SoundServer::Recording& recording, std::size_t from)
    {
        return readPcm(recording.path(), cdRate, 2, from).channel(0);
    }

    // Seconds from `from` until the recording turns silent (or sounding).
    static std::optional<double> secondsUntil(bool silent, const SoundServer::Recording& recording, std::size_t from)
    {
        const bool reached = waitUntil(
            [&] {
                const auto pcm = heard(recording, from);
                if (silent)
                    return !silentStretches(pcm, cdRate / 10).empty();
                return firstSound(pcm).has_value();
            },
            3s);
        if (!reached)
            return std::nullopt;
        const auto pcm = heard(recording, from);
        const std::size_t at = silent ? silentStretches(pcm, cdRate / 10).front().start : *firstSound(pcm);
        return static_cast<double>(at) / cdRate;
    }

    SoundServer server;
    // Before the window, whose engine connects as it starts.
    const bool serverInUse = (server.useInThisProcess(), true);
    TempDir dir;
    Form1 window;
    std::vector<QString> messages;
};

// From the drop until the sound reaches the recorder, which includes the
// recorder's own latency: an upper bound of when the sink played it. On a
// fresh player, and on one just stopped.
TEST_F(SoundServerTest, ADroppedFileIsHeardPromptlyFreshOrJustStopped)
{
    const SoundServer::Recording recording(server, dir.file("heard.raw"));
    for (const char* state : {"fresh", "just stopped"}) {
        SCOPED_TRACE(state);
        const std::size_t atDrop = recording.framesRecorded();
        const auto dropped = std::chrono::steady_clock::now();
        dropOnWindow(window, labelCentre, *filesData({testFile("cbr44_long.mp3")}));
        ASSERT_TRUE(waitUntil([&] { return firstSound(heard(recording, atDrop)).has_value(); }, 3s));
        const auto start = std::chrono::steady_clock::now() - dropped;
        std::cout << "drop to first sound recorded from the sink, " << state << ": "
                  << std::chrono::duration<double, std::milli>(start).count() << " ms\n";
        EXPECT_LT(start, 100ms);

        ASSERT_TRUE(waitUntil([&] { return recording.framesRecorded() > atDrop + cdRate / 2; }, 3s));
        const auto pcm = heard(recording, atDrop);
        const std::size_t toneStart = *firstSound(pcm);
        EXPECT_NEAR(toneFrequency(pcm, cdRate, toneStart + cdRate / 10, cdRate / 4), 440.0, 1.0);
        window.stop();
        ASSERT_TRUE(secondsUntil(true, recording, recording.framesRecorded()).has_value());
    }
    EXPECT_TRUE(messages.empty());
}

// The desktop's mixer sees the player's music under each file's title, or
// its name where it has no tag: on the first stream, on the stream kept for
// a file of the same format, and on one made anew for another format.
TEST_F(SoundServerTest, TheMixerSeesMusicNamedAfterEachFileOpened)
{
    const std::pair<const char*, const char*> files[] = {
        {"id3v2.mp3", "Test tone"}, {"id3v1.mp3", "Tone at the end"}, {"mono48.mp3", "mono48.mp3"}};
    for (const auto& [file, title] : files) {
        SCOPED_TRACE(file);
        dropOnWindow(window, labelCentre, *filesData({testFile(file)}));
        std::vector<SinkInputProperties> streams;
        const bool shown = waitUntil(
            [&] {
                streams = sinkInputs(server.clientEnvironment());
                return streams.size() == 1 && unlikePlayersMusic(streams[0], title).empty();
            },
            3s);
        ASSERT_TRUE(shown) << streams.size() << " streams; "
                           << (streams.empty() ? "" : unlikePlayersMusic(streams[0], title));
    }
}

TEST_F(SoundServerTest, LosingTheServerIsReportedOnceAndPlayResumesOnceItIsBack)
{
    dropOnWindow(window, labelCentre, *filesData({testFile("cbr44_long.mp3")}));
    ASSERT_TRUE(waitUntil([&] { return engine()->currentPosition() > 0.3; }, 5s));

    server.kill();
    ASSERT_TRUE(waitUntil([&] { return !messages.empty(); }, 5s));
    EXPECT_EQ(messages[0],
              QStringLiteral("Cannot play \"%1\": audio output was lost").arg(testFile("cbr44_long.mp3")));
    EXPECT_EQ(engine()->playState(), PlayState::Stopped);
    EXPECT_EQ(engine()->openState(), OpenState::Open);
    runEventsFor(300ms);
    EXPECT_EQ(messages.size(), 1U);

    server.start();
    const SoundServer::Recording recording(server, dir.file("after.raw"));
    const std::size_t atPlay = recording.framesRecorded();
    window.play();
    EXPECT_EQ(engine()->playState(), PlayState::Playing);
    ASSERT_TRUE(secondsUntil(false, recording, atPlay).has_value());
    EXPECT_EQ(messages.size(), 1U);
}

} // namespace
