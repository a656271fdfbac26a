// SPDX-License-Identifier: GPL-3.0-or-later
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include "mpris/playbackwatch.h"
#include "support/testdata.h"
#include "support/wait.h"
#include "window/fakeengine.h"
#include "window/form1.h"
#include "window/progresstimer.h"

namespace {

class PlaybackWatchTest : public ::testing::Test {
protected:
    PlaybackWatchTest() : engine(new FakeEngine), window(engine), watch(window, *engine)
    {
        // The chords' timer reads the play state too: out of the way.
        window.findChild<QTimer*>(QStringLiteral("Timer2"))->stop();
        window.setMessagePresenter([](const QString& /*text*/) {});
    }

    // The window hands the engine a file, which opens with the tags it read.
    void open(const QString& path, double length, const TrackTags& tags = {})
    {
        window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(path);
        window.load();
        emit engine->openStateChange(OpenState::Closed, OpenState::Opening);
        engine->open = OpenState::Open;
        engine->length = length;
        engine->tags = tags;
        engine->playing = PlayState::Playing;
        emit engine->openStateChange(OpenState::Opening, OpenState::Open);
    }

    FakeEngine* engine;
    Form1 window;
    PlaybackWatch watch;
    QSignalSpy states{&watch, &PlaybackWatch::playStateChanged};
    QSignalSpy tracks{&watch, &PlaybackWatch::trackChanged};
    QSignalSpy jumps{&watch, &PlaybackWatch::positionJumped};
};

// The tags are the engine's, read as it opened the file: the file's own,
// which say "Test tone", are not read again on this thread.
TEST_F(PlaybackWatchTest, AnOpenedFileIsATrackWithTheEnginesTagsAndLength)
{
    EXPECT_FALSE(watch.track().has_value());
    open(testFile("id3v2.mp3"), 2.0, {QStringLiteral("As opened"), QStringLiteral("Engine")});
    ASSERT_TRUE(watch.track().has_value());
    EXPECT_EQ(watch.track()->path, testFile("id3v2.mp3"));
    EXPECT_EQ(watch.track()->lengthSeconds, 2.0);
    EXPECT_EQ(watch.track()->tags.title, QStringLiteral("As opened"));
    EXPECT_EQ(watch.track()->tags.artist, QStringLiteral("Engine"));
    EXPECT_EQ(tracks.count(), 1);
    // It plays by itself once open.
    ASSERT_EQ(states.count(), 1);
    EXPECT_EQ(states.at(0).at(0).toInt(), PlayState::Playing);

    // Replaced: gone while the next one opens, then the next one.
    const quint64 first = watch.track()->number;
    engine->playing = PlayState::Stopped;
    emit engine->openStateChange(OpenState::Open, OpenState::Opening);
    EXPECT_FALSE(watch.track().has_value());
    open(testFile("cbr44_stereo.mp3"), 4.0);
    ASSERT_TRUE(watch.track().has_value());
    EXPECT_NE(watch.track()->number, first);
    EXPECT_TRUE(watch.track()->tags.title.isEmpty());
    EXPECT_EQ(tracks.count(), 3);
}

TEST_F(PlaybackWatchTest, CommandsAreFollowedAndOnlyChangesReported)
{
    open(testFile("cbr44_stereo.mp3"), 4.0);
    states.clear();

    const auto runs = [&](void (Form1::*command)(), int engineStateAfter) {
        engine->playing = engineStateAfter;
        window.runCommand(command);
    };
    runs(&Form1::pause, PlayState::Paused);
    runs(&Form1::pause, PlayState::Paused); // no change, nothing said
    runs(&Form1::play, PlayState::Playing);
    runs(&Form1::stop, PlayState::Stopped);
    runs(&Form1::stop, PlayState::Stopped);
    ASSERT_EQ(states.count(), 3);
    EXPECT_EQ(states.at(0).at(0).toInt(), PlayState::Paused);
    EXPECT_EQ(states.at(1).at(0).toInt(), PlayState::Playing);
    EXPECT_EQ(states.at(2).at(0).toInt(), PlayState::Stopped);
    EXPECT_EQ(watch.playState(), PlayState::Stopped);
    // Stop's rewind is a jump; pausing and resuming are not.
    ASSERT_EQ(jumps.count(), 1);
    EXPECT_EQ(jumps.at(0).at(0).toDouble(), 0.0);
}

TEST_F(PlaybackWatchTest, TheEndOfAFileIsNoticedWithoutACommand)
{
    engine->positions = {3.8};
    open(testFile("cbr44_stereo.mp3"), 4.0);
    jumps.clear();
    states.clear();
    // The engine's own thread stops and rewinds at the end.
    engine->playing = PlayState::Stopped;
    engine->positions = {0.0};
    ASSERT_TRUE(waitUntil([&] { return states.count() == 1; }, std::chrono::milliseconds(1000)));
    EXPECT_EQ(states.at(0).at(0).toInt(), PlayState::Stopped);
    EXPECT_EQ(jumps.count(), 1);
}

TEST_F(PlaybackWatchTest, ThePlayStateIsNotReadAtTheProgressTick)
{
    engine->positions = {1.0};
    open(testFile("cbr44_stereo.mp3"), 180.0);
    ASSERT_TRUE(window.findChild<ProgressTimer*>(QStringLiteral("Timer1"))->isActive());
    // The timer ticks while the position moves and the bar can be seen.
    window.show();
    emit engine->clockRunningChanged(true);
    std::vector<std::string> reads;
    engine->reads = &reads;
    const int positionReadsBefore = engine->positionReads;
    runEventsFor(std::chrono::milliseconds(500));
    engine->reads = nullptr;
    EXPECT_GT(engine->positionReads - positionReadsBefore, 20) << "the progress timer ran";
    EXPECT_TRUE(reads.empty()) << reads.size() << " reads";
}

TEST_F(PlaybackWatchTest, AFailureThatStopsPlaybackIsFollowed)
{
    open(testFile("cbr44_stereo.mp3"), 4.0);
    states.clear();
    engine->playing = PlayState::Stopped;
    emit engine->playbackFailed(testFile("cbr44_stereo.mp3"), QStringLiteral("audio output was lost"));
    ASSERT_EQ(states.count(), 1);
    EXPECT_EQ(states.at(0).at(0).toInt(), PlayState::Stopped);
}

} // namespace
