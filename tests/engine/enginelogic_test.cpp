// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "engine/fakeoutput.h"
#include "engine/mediaplayer.h"
#include "harness/tempdir.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace {

// The engine with an output that plays nothing, for what needs no sound.
class EngineLogicTest : public ::testing::Test {
protected:
    bool open(const QString& path)
    {
        player.setFileName(path);
        return waitUntilOpen(player);
    }

    std::shared_ptr<FakeOutput::Log> log = std::make_shared<FakeOutput::Log>();
    MediaPlayer player{std::make_unique<FakeOutput>(log), openDecoder, nullptr};
};

TEST_F(EngineLogicTest, DurationIsWithinATenthOfASecondForCbrAndVbr)
{
    const std::pair<const char*, double> files[] = {
        {"cbr44_stereo.mp3", 4.0}, {"cbr44_noheader.mp3", 4.0}, {"vbr44.mp3", 4.0},
        {"vbr44_noheader.mp3", 4.0}, {"mono48.mp3", 1.5},         {"id3v2.mp3", 2.0},
    };
    for (const auto& [name, seconds] : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(testFile(name)));
        EXPECT_NEAR(player.duration(), seconds, 0.1);
        std::cout << "duration error " << name << ": " << (player.duration() - seconds) * 1000 << " ms\n";
    }
}

// Each file reaches the output in its own format, from its first buffer: a
// mono 48 kHz file after a stereo 44.1 kHz one, and back.
TEST_F(EngineLogicTest, EachFileReachesTheOutputInItsOwnFormat)
{
    const std::pair<const char*, FakeOutput::Write> files[] = {
        {"cbr44_stereo.mp3", {44100, 2, 0}}, {"mono48.mp3", {48000, 1, 0}}, {"vbr44.mp3", {44100, 2, 0}}};
    std::size_t seen = 0;
    for (const auto& [name, format] : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(testFile(name)));
        ASSERT_TRUE(waitUntil([&] { return log->copy().size() > seen; }, 2s));
        const auto writes = log->copy();
        for (std::size_t i = seen; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i].rate, format.rate);
            EXPECT_EQ(writes[i].channels, format.channels);
        }
        seen = writes.size();
    }
}

// A file of a single frame, a 26 ms click, plays and ends as any file does.
TEST_F(EngineLogicTest, AFileOfOneFramePlaysAndEnds)
{
    const TempDir dir;
    std::ifstream in(testFile("cbr44_noheader.mp3").toStdString(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // 128 kbit/s at 44.1 kHz: 417 bytes, and one more when padded.
    const std::size_t frameBytes = 417 + ((static_cast<unsigned char>(bytes[2]) >> 1) & 1);
    const std::string click = dir.file("click.mp3");
    std::ofstream(click, std::ios::binary) << bytes.substr(0, frameBytes);
    QSignalSpy failures(&player, &MediaEngine::playbackFailed);
    ASSERT_TRUE(open(QString::fromStdString(click)));
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 2s));
    EXPECT_TRUE(failures.isEmpty());
    std::size_t frames = 0;
    for (const FakeOutput::Write& w : log->copy())
        frames += w.frames;
    EXPECT_EQ(frames, 1152U);
}

// "stop" while the file is still opening is not lost: it opens and stays
// stopped.
// The clock is said to run from the sound's start to a pause or the end, and
// the position stands still whenever it is said to stop.
TEST(EngineClockTest, TellsWhenThePositionStartsAndStopsMoving)
{
    MediaPlayer player{std::make_unique<FakeOutput>(std::make_shared<FakeOutput::Log>(), 4.0), openDecoder, nullptr};
    QSignalSpy clock(&player, &MediaEngine::clockRunningChanged);
    const auto told = [&](qsizetype count) { return waitUntil([&] { return clock.size() >= count; }, 5s); };
    const auto standsStill = [&] {
        const double held = player.currentPosition();
        runEventsFor(30ms);
        return player.currentPosition() == held;
    };

    player.setFileName(testFile("mono48.mp3"));
    ASSERT_TRUE(told(1));
    player.pause();
    ASSERT_TRUE(told(2));
    EXPECT_TRUE(standsStill());
    const double paused = player.currentPosition();
    EXPECT_GT(paused, 0.0);
    player.play();
    ASSERT_TRUE(told(3));
    EXPECT_TRUE(waitUntil([&] { return player.currentPosition() > paused; }, 1s));
    // At the end.
    ASSERT_TRUE(told(4));
    EXPECT_EQ(player.playState(), PlayState::Stopped);
    EXPECT_TRUE(standsStill());
    EXPECT_EQ(clock.size(), 4);
    for (qsizetype i = 0; i < clock.size(); ++i)
        EXPECT_EQ(clock.at(i).at(0).toBool(), i % 2 == 0) << i;
}

// A stop while the file opens gives the open up, or, where it came too late
// for that, stops the file as it opens: either way nothing plays.
TEST_F(EngineLogicTest, StopWhileOpeningIsKept)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        SCOPED_TRACE(attempt);
        player.setFileName(testFile("cbr44_stereo.mp3"));
        player.stop();
        ASSERT_TRUE(waitUntil([&] { return player.openState() != OpenState::Opening; }, 5s));
        runEventsFor(20ms);
        EXPECT_EQ(player.playState(), PlayState::Stopped);
        EXPECT_EQ(player.currentPosition(), 0.0);
    }
}

// "stop" with no file open rewinds nothing, and leaves nothing behind: the
// next file plays from its start without being halted and started again.
TEST_F(EngineLogicTest, AStopWithNoFileOpenLeavesTheNextFilePlayingOnUnbroken)
{
    player.stop();
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 1s));
    runEventsFor(20ms);
    ASSERT_TRUE(open(testFile("cbr44_stereo.mp3")));
    ASSERT_TRUE(waitUntil([&] { return player.currentPosition() > 0.05; }, 2s));
    EXPECT_EQ(log->haltCount(), 0);
}

TEST_F(EngineLogicTest, AFileThatCannotBePlayedIsClosedAndTheReasonReported)
{
    const TempDir folder;
    const std::pair<QString, QString> cases[] = {
        {testFile("not_mpeg.mp3"), QStringLiteral("no MPEG audio frames")},
        {testFile("no_such_file.mp3"), QStringLiteral("No such file")},
        {QString::fromStdString(folder.path()), QStringLiteral("not a regular file")},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path.toStdString());
        ASSERT_TRUE(open(testFile("cbr44_stereo.mp3")));
        QSignalSpy failures(&player, &MediaEngine::playbackFailed);
        player.setFileName(path);
        ASSERT_TRUE(failures.wait(5000));
        EXPECT_EQ(failures[0][0].toString(), path);
        EXPECT_TRUE(failures[0][1].toString().contains(reason)) << failures[0][1].toString().toStdString();
        EXPECT_EQ(player.openState(), OpenState::Closed);
        EXPECT_EQ(player.playState(), PlayState::Stopped);
        EXPECT_EQ(player.duration(), 0.0);
        EXPECT_EQ(player.currentPosition(), 0.0);
    }
}

TEST_F(EngineLogicTest, EveryCallSucceedsInEveryState)
{
    const auto exerciseAll = [&] {
        EXPECT_GE(player.currentPosition(), 0.0);
        EXPECT_GE(player.duration(), 0.0);
        player.pause();
        player.play();
        player.setCurrentPosition(0.0);
        player.setCurrentPosition(std::nan(""));
        player.stop();
        player.stop();
        EXPECT_EQ(player.playState(), PlayState::Stopped);
    };
    exerciseAll(); // no file
    player.setFileName(testFile("cbr44_stereo.mp3"));
    exerciseAll(); // opening, which the stop gives up
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntilOpen(player));
    exerciseAll(); // open
    player.setFileName(testFile("not_mpeg.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Closed; }, 5s));
    exerciseAll(); // after a failure
    player.setFileName(QString());
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Closed; }, 5s));
    exerciseAll();
}

// A file joined from a 44.1 kHz stereo part and a 48 kHz mono one: each part
// reaches the output whole, in its own format, the second after the first.
TEST(EngineOnAJoinedFile, PlaysEachPartInItsOwnFormat)
{
    const auto log = std::make_shared<FakeOutput::Log>();
    MediaPlayer player(std::make_unique<FakeOutput>(log, 20.0), openDecoder, nullptr);
    player.setFileName(testFile("joined44_48.mp3"));
    ASSERT_TRUE(waitUntilOpen(player));
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 5s));

    std::map<std::pair<int, int>, double> seconds;
    std::vector<std::pair<int, int>> order;
    for (const FakeOutput::Write& w : log->copy()) {
        const std::pair format{w.rate, w.channels};
        if (order.empty() || order.back() != format)
            order.push_back(format);
        seconds[format] += static_cast<double>(w.frames) / w.rate;
    }
    const std::vector<std::pair<int, int>> parts{{44100, 2}, {48000, 1}};
    EXPECT_EQ(order, parts);
    EXPECT_NEAR(seconds[parts[0]], 4.0, 0.06);
    EXPECT_NEAR(seconds[parts[1]], 1.5, 0.06);
}

} // namespace
