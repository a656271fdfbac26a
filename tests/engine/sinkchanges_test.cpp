// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <memory>
#include <sstream>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "harness/pactl.h"
#include "harness/soundserver.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"

// The real engine while the server moves its stream to another sink, as a
// desktop does when the user picks another device or one goes away: sound
// goes on there, with no message, and pause is as prompt as before.

using namespace std::chrono_literals;

namespace {

class SinkChangesTest : public ::testing::Test {
protected:
    SinkChangesTest()
    {
        server.useInThisProcess();
        pactl({"load-module", "module-null-sink", "sink_name=other"});
        player = std::make_unique<SystemMediaPlayer>();
    }

    std::string pactl(const std::vector<std::string>& arguments) const
    {
        const auto output = ::pactl(arguments, server.clientEnvironment());
        EXPECT_TRUE(output.has_value());
        return output.value_or("");
    }

    // The first field of the first line of `pactl list short` that holds
    // `text`: the index of what it lists.
    std::string indexOf(const char* what, const std::string& text) const
    {
        std::istringstream lines(pactl({"list", "short", what}));
        for (std::string line; std::getline(lines, line);) {
            if (line.find(text) != std::string::npos)
                return line.substr(0, line.find('\t'));
        }
        ADD_FAILURE() << "no " << what << " with " << text;
        return {};
    }

    bool heardOn(const SoundServer::Recording& recording) const
    {
        return waitUntil([&] { return firstSound(readPcm(recording.path(), cdRate, 2).channel(0)).has_value(); }, 2s);
    }

    // Plays on for a while: the position moves on with the time, never back.
    void expectPlaysOnFrom(double position, std::chrono::steady_clock::time_point since) const
    {
        double last = player->currentPosition();
        const QDeadlineTimer deadline(300ms);
        while (!deadline.hasExpired()) {
            const double now = player->currentPosition();
            EXPECT_GT(now, last - promptSeconds);
            last = now;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
        EXPECT_NEAR(last - position, secondsSince(since), 0.050);
        EXPECT_EQ(player->playState(), PlayState::Playing);
    }

    SoundServer server;
    const TempDir dir;
    // The null sinks pace only while recorded.
    const SoundServer::Recording first{server, dir.file("null.raw")};
    // Made once the server is set: its engine connects as it starts.
    std::unique_ptr<SystemMediaPlayer> player;
};

TEST_F(SinkChangesTest, AStreamMovedToAnotherSinkPlaysOnThereUnmovedAndPausesAtOnce)
{
    const SoundServer::Recording other(server.clientEnvironment(), dir.file("other.raw"), 10, "other");
    QSignalSpy failures(player.get(), &MediaEngine::playbackFailed);
    player->setFileName(testFile("cbr44_long.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.3; }, 5s));

    const double before = player->currentPosition();
    const auto moved = std::chrono::steady_clock::now();
    pactl({"move-sink-input", indexOf("sink-inputs", "\t"), "other"});
    ASSERT_TRUE(heardOn(other));
    expectPlaysOnFrom(before, moved);

    const std::size_t recordedAtPause = other.framesRecorded();
    player->pause();
    ASSERT_TRUE(waitUntil(
        [&] { return !silentStretches(readPcm(other.path(), cdRate, 2, recordedAtPause).channel(0), gapFrames).empty(); },
        2s));
    const auto silence = silentStretches(readPcm(other.path(), cdRate, 2, recordedAtPause).channel(0), gapFrames);
    EXPECT_LT(static_cast<double>(silence.front().start) / cdRate, promptSeconds);
    EXPECT_TRUE(failures.empty());
}

TEST_F(SinkChangesTest, ThePlayingSinkRemovedWhileAnotherIsThereItPlaysOnThereWithoutAMessage)
{
    const SoundServer::Recording other(server.clientEnvironment(), dir.file("other.raw"), 10, "other");
    QSignalSpy failures(player.get(), &MediaEngine::playbackFailed);
    player->setFileName(testFile("cbr44_long.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.3; }, 5s));

    const double before = player->currentPosition();
    const auto removed = std::chrono::steady_clock::now();
    pactl({"unload-module", indexOf("modules", "sink_name=null")});
    ASSERT_TRUE(heardOn(other));
    expectPlaysOnFrom(before, removed);
    EXPECT_TRUE(failures.empty());
}

} // namespace
