// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "harness/silentserver.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"

// The real engine where the sound server has accepted the connection and
// never answers, and no ALSA device answers either.

using namespace std::chrono_literals;

namespace {

class EngineWithASilentServer : public ::testing::Test {
protected:
    EngineWithASilentServer()
    {
        std::ofstream(dir.file("asound.conf")) << "# no devices\n";
        setenv("ALSA_CONFIG_PATH", dir.file("asound.conf").c_str(), 1);
        server.useInThisProcess();
        player = std::make_unique<SystemMediaPlayer>();
    }

    // Seconds the engine takes to end, as the window's close ends it.
    static double secondsToEnd(std::unique_ptr<SystemMediaPlayer>& player)
    {
        const auto closing = std::chrono::steady_clock::now();
        player.reset();
        return secondsSince(closing);
    }

    const TempDir dir;
    const SilentServer server;
    // Made once the server is set: its engine connects as it starts.
    std::unique_ptr<SystemMediaPlayer> player;
};

// Its first connection, made as it starts, is still waiting on the server.
TEST_F(EngineWithASilentServer, EndsAtOnceWhileItsFirstConnectionWaits)
{
    runEventsFor(300ms);
    EXPECT_LT(secondsToEnd(player), 0.5);
}

// A file asked for waits on the server for the connection.
TEST_F(EngineWithASilentServer, EndsAtOnceWhileAFileWaitsOnTheServer)
{
    player->setFileName(testFile("cbr44_stereo.mp3"));
    runEventsFor(300ms);
    ASSERT_EQ(player->openState(), OpenState::Opening);
    EXPECT_LT(secondsToEnd(player), 0.5);
}

// Refused within the connection's bound, saying why, and again for the next
// file; once a server answers, the next file plays through it.
TEST_F(EngineWithASilentServer, AFileIsRefusedSayingTheServerDoesNotAnswerAndPlaysOnceOneAnswers)
{
    QSignalSpy failures(player.get(), &MediaEngine::playbackFailed);
    for (const char* attempt : {"while the first connection waits", "on a connection of its own"}) {
        SCOPED_TRACE(attempt);
        const int before = static_cast<int>(failures.size());
        const auto asked = std::chrono::steady_clock::now();
        player->setFileName(testFile("cbr44_stereo.mp3"));
        ASSERT_TRUE(waitUntil([&] { return failures.size() > before; }, 5s));
        EXPECT_LT(secondsSince(asked), 2.5);
        const QString reason = failures.back()[1].toString();
        EXPECT_TRUE(reason.contains(QStringLiteral("the sound server does not answer"))) << reason.toStdString();
        EXPECT_EQ(player->openState(), OpenState::Closed);
    }

    const TestSink audio;
    TestSink::useInThisProcess();
    player->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntilOpen(*player));
    EXPECT_EQ(player->playState(), PlayState::Playing);
    EXPECT_TRUE(waitUntil([&] { return firstSound(audio.read().channel(0)).has_value(); }, 5s));
}

// PipeWire's daemon hung the same way, its socket in the user's runtime
// folder, with no other server: a file is refused within the connection's
// bound, and the engine ends at once while one waits.
class EngineWithASilentPipeWire : public EngineWithASilentServer {
protected:
    EngineWithASilentPipeWire()
    {
        player.reset();
        const std::string runtime = dir.file("run");
        std::filesystem::create_directory(runtime);
        const std::string socket = std::getenv("PULSE_SERVER");
        std::filesystem::create_symlink(socket.substr(std::string("unix:").size()), runtime + "/pipewire-0");
        unsetenv("PULSE_SERVER");
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        player = std::make_unique<SystemMediaPlayer>();
    }
};

TEST_F(EngineWithASilentPipeWire, AFileIsRefusedWithinTheBoundAndTheEngineEndsAtOnceWhileOneWaits)
{
    QSignalSpy failures(player.get(), &MediaEngine::playbackFailed);
    const auto asked = std::chrono::steady_clock::now();
    player->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return !failures.isEmpty(); }, 5s));
    EXPECT_LT(secondsSince(asked), 2.5);
    EXPECT_EQ(player->openState(), OpenState::Closed);

    player->setFileName(testFile("cbr44_stereo.mp3"));
    runEventsFor(300ms);
    ASSERT_EQ(player->openState(), OpenState::Opening);
    EXPECT_LT(secondsToEnd(player), 0.5);
}

} // namespace
