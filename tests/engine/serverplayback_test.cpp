// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

#include <QSignalSpy>
#include <QThread>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "harness/pactl.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"

// The real engine through the test's own sound server, heard on its sink.

using namespace std::chrono_literals;

namespace {

constexpr double toneC = 523.25;

// What the test's sound server says of its streams.
std::string sinkInputs()
{
    return pactl({"list", "sink-inputs"}).value_or("pactl failed");
}

// A tone of `seconds` at `hz`, encoded without an Info frame and joined
// `copies` times over: a long recording whose length no header gives.
std::string largeHeaderlessFile(const TempDir& dir, double hz, int seconds, int copies)
{
    const std::string wav = dir.file("part.wav");
    const std::string part = dir.file("part.mp3");
    const std::string make = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " + std::to_string(seconds) + " sine "
                             + std::to_string(hz) + " gain -6 && lame --quiet -b 128 -t '" + wav + "' '" + part + "'";
    if (std::system(make.c_str()) != 0)
        return {};
    std::ifstream in(part, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string joined = dir.file("large.mp3");
    std::ofstream out(joined, std::ios::binary);
    for (int i = 0; i < copies; ++i)
        out << bytes;
    return joined;
}

// The first frame from `from` on where a 10 ms stretch has the pitch `hz`.
std::optional<std::size_t> firstAtPitch(const std::vector<std::int16_t>& mono, std::size_t from, double hz)
{
    const std::size_t span = cdRate / 100;
    for (std::size_t at = from; at + span <= mono.size(); at += span / 4) {
        if (std::abs(toneFrequency(mono, cdRate, at, span) - hz) < hz / 20)
            return at;
    }
    return std::nullopt;
}

// The real engine playing through the test's sound server, heard on the sink.
class EngineTest : public ::testing::Test {
protected:

    bool open(const char* name)
    {
        player.setFileName(testFile(name));
        return waitUntilOpen(player);
    }

    bool playedFor(double seconds)
    {
        return waitUntil([&] { return player.currentPosition() >= seconds; }, 5s);
    }

    std::vector<std::int16_t> left() const { return audio.read().channel(0); }

    // Once the file has ended: the recording has caught up with the sink.
    bool recordedToSilence() const
    {
        return waitUntil(
            [&] {
                const std::size_t recorded = audio.framesRecorded();
                const auto tail = audio.read(recorded > 2 * gapFrames ? recorded - 2 * gapFrames : 0).channel(0);
                return tail.size() >= 2 * gapFrames && !firstSound(tail).has_value();
            },
            2s);
    }

    // The first silence of at least `gapFrames` after the sound began.
    static std::optional<Stretch> silenceAfterSound(const std::vector<std::int16_t>& pcm, std::size_t from)
    {
        const auto lead = firstSound(pcm);
        for (const Stretch& s : silentStretches(pcm, gapFrames)) {
            if (lead && s.start > std::max(*lead, from))
                return s;
        }
        return std::nullopt;
    }

    TestSink audio;
    // Before the player, whose engine connects as it starts.
    const bool sinkInUse = (TestSink::useInThisProcess(), true);
    SystemMediaPlayer player;
};

TEST_F(EngineTest, OpeningReportsEachChangeOnTheGuiThreadAndStartsPlaying)
{
    std::vector<std::pair<int, int>> changes;
    bool onGuiThread = true;
    QObject::connect(&player, &MediaEngine::openStateChange, [&](int from, int to) {
        changes.emplace_back(from, to);
        onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
    });
    EXPECT_EQ(player.openState(), OpenState::Closed);

    player.setFileName(testFile("cbr44_stereo.mp3"));
    EXPECT_EQ(player.openState(), OpenState::Opening);
    ASSERT_TRUE(waitUntil([&] { return changes.size() == 2; }, 5s));
    EXPECT_EQ(changes[0], std::make_pair(OpenState::Closed, OpenState::Opening));
    EXPECT_EQ(changes[1], std::make_pair(OpenState::Opening, OpenState::Open));
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(player.openState(), OpenState::Open);
    EXPECT_EQ(player.playState(), PlayState::Playing);

    ASSERT_TRUE(playedFor(0.5));
    const auto pcm = left();
    const auto start = firstSound(pcm);
    ASSERT_TRUE(start.has_value());
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *start + fadeFrames, cdRate / 4), toneA, 1.0);
}

// The recorder's file grows as the sink plays; the earliest arrivals tell
// when its first frame played. The position is compared with the file time
// heard at each moment.
TEST_F(EngineTest, PositionIsThatOfTheAudioHeardOnTheSink)
{
    ASSERT_TRUE(open("cbr44_long.mp3"));
    ASSERT_TRUE(playedFor(0.2));

    struct Sample {
        double at;
        std::size_t recorded;
        double position;
    };
    std::vector<Sample> samples;
    const auto start = std::chrono::steady_clock::now();
    while (secondsSince(start) < 1.5) {
        samples.push_back({secondsSince(start), audio.framesRecorded(), player.currentPosition()});
        QThread::usleep(3000);
    }
    const auto lead = firstSound(left());
    ASSERT_TRUE(lead.has_value());
    double firstFrameAt = samples.front().at;
    for (const Sample& s : samples)
        firstFrameAt = std::min(firstFrameAt, s.at - static_cast<double>(s.recorded) / cdRate);
    std::vector<double> errors;
    errors.reserve(samples.size());
    for (const Sample& s : samples)
        errors.push_back(std::abs(s.position - (s.at - firstFrameAt - static_cast<double>(*lead) / cdRate)));
    std::sort(errors.begin(), errors.end());
    const double median = errors[errors.size() / 2];
    std::cout << "position error: median " << median * 1000 << " ms, worst " << errors.back() * 1000 << " ms over "
              << errors.size() << " samples\n";
    // The sink's monitor passes each block on as it is mixed, about 10 ms
    // before the sink's clock counts it heard; the position follows the clock.
    EXPECT_LT(median, 0.020);
    EXPECT_LT(errors.back(), 0.030);
}

// The server holds a second ahead, yet a pause is heard at once, fades rather
// than clicks, rests the server (the stream is corked) and resumes from the
// paused sample: nothing skipped or repeated.
TEST_F(EngineTest, PauseSilencesAtOnceRestsTheServerAndResumesFromThePausedSample)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.5));
    const std::size_t recordedAtPause = audio.framesRecorded();
    const double shownAtPause = player.currentPosition();
    player.pause();
    EXPECT_EQ(player.playState(), PlayState::Paused);

    runEventsFor(100ms);
    const double held = player.currentPosition();
    EXPECT_TRUE(waitUntil([] { return sinkInputs().find("Corked: yes") != std::string::npos; }, 1s))
        << sinkInputs();
    runEventsFor(300ms);
    EXPECT_EQ(player.currentPosition(), held);
    // Held where the sound stopped: the position shown before was moved on
    // in real time between the server's reports, so it may have run a little
    // ahead of what was heard.
    EXPECT_NEAR(held, shownAtPause, promptSeconds);

    player.play();
    EXPECT_EQ(player.playState(), PlayState::Playing);
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 6s));
    ASSERT_TRUE(recordedToSilence());

    const auto pcm = left();
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    const auto pause = silenceAfterSound(pcm, 0);
    ASSERT_TRUE(pause.has_value());
    const double tookEffect = (static_cast<double>(pause->start) - static_cast<double>(recordedAtPause)) / cdRate;
    std::cout << "pause heard " << tookEffect * 1000 << " ms after the call\n";
    EXPECT_LT(tookEffect, promptSeconds);
    EXPECT_GT(pause->length, cdRate * 4 / 10);

    const std::size_t sounding =
        soundingFrames(std::vector(pcm.begin() + static_cast<std::ptrdiff_t>(*lead), pcm.end()), gapFrames);
    EXPECT_NEAR(static_cast<double>(sounding), 4.0 * cdRate, 3.0 * fadeFrames);
    // The fades keep the edges smooth: no step larger than the tone's own.
    const int toneStep = largestStep(pcm, *lead + cdRate / 10, cdRate / 10);
    EXPECT_LE(largestStep(pcm, pause->start - 2 * fadeFrames, 3 * fadeFrames), toneStep * 11 / 10);
    EXPECT_LE(largestStep(pcm, pause->start + pause->length - fadeFrames, 3 * fadeFrames), toneStep * 11 / 10);
}

TEST_F(EngineTest, StopSilencesAtOnceAndRewindsAndPlayStartsFromTheTop)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.5));
    const std::size_t recordedAtStop = audio.framesRecorded();
    player.stop();
    EXPECT_EQ(player.playState(), PlayState::Stopped);
    EXPECT_EQ(player.currentPosition(), 0.0);
    runEventsFor(300ms);
    EXPECT_EQ(player.currentPosition(), 0.0);
    EXPECT_EQ(player.openState(), OpenState::Open);
    EXPECT_NE(sinkInputs().find("Corked: yes"), std::string::npos) << sinkInputs();

    const auto silence = silenceAfterSound(left(), 0);
    ASSERT_TRUE(silence.has_value());
    const double tookEffect = (static_cast<double>(silence->start) - static_cast<double>(recordedAtStop)) / cdRate;
    std::cout << "stop heard " << tookEffect * 1000 << " ms after the call\n";
    EXPECT_LT(tookEffect, promptSeconds);

    player.play();
    EXPECT_EQ(player.playState(), PlayState::Playing);
    ASSERT_TRUE(playedFor(0.3));
    EXPECT_LT(player.currentPosition(), 0.5);
}

TEST_F(EngineTest, EndOfFileStopsAndRewindsWithTheFileStillOpen)
{
    for (const char* name : {"mono48.mp3", "truncated.mp3"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(name));
        ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 5s));
        EXPECT_EQ(player.openState(), OpenState::Open);
        EXPECT_EQ(player.currentPosition(), 0.0);

        player.play();
        EXPECT_EQ(player.playState(), PlayState::Playing);
        ASSERT_TRUE(playedFor(0.2));
        EXPECT_LT(player.currentPosition(), 0.5);
        player.stop();
    }
}

TEST_F(EngineTest, ReplacingAPlayingFileSilencesItAtOnceAndPlaysTheNewOne)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.3));
    QSignalSpy changes(&player, &MediaEngine::openStateChange);
    const std::size_t recordedAtReplace = audio.framesRecorded();
    player.setFileName(testFile("vbr44.mp3"));
    ASSERT_TRUE(waitUntil([&] { return changes.size() == 2; }, 5s));
    EXPECT_EQ(changes[0], (QVariantList{OpenState::Open, OpenState::Opening}));
    EXPECT_EQ(changes[1], (QVariantList{OpenState::Opening, OpenState::Open}));
    EXPECT_EQ(player.playState(), PlayState::Playing);
    EXPECT_NEAR(player.duration(), 4.0, 0.1);

    ASSERT_TRUE(playedFor(0.4));
    const auto pcm = left();
    // The old tone is no longer heard a moment after the new file was asked for.
    const std::size_t soon = recordedAtReplace + static_cast<std::size_t>(promptSeconds * cdRate);
    EXPECT_NEAR(toneFrequency(pcm, cdRate, soon + fadeFrames * 2, cdRate / 5), toneC, 1.0);
    EXPECT_NEAR(toneFrequency(pcm, cdRate, pcm.size() - cdRate / 4, cdRate / 4), toneC, 1.0);
}

// Through the server: the stream follows the file's change of format, and
// each part is heard at its own pitch, one after the other.
TEST_F(EngineTest, AJoinedFileIsHeardPartAfterPartAtTheirOwnPitch)
{
    ASSERT_TRUE(open("joined44_48.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 8s));
    ASSERT_TRUE(recordedToSilence());
    const auto pcm = left();
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *lead + cdRate, cdRate), toneA, 1.0);
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *lead + cdRate * 9 / 2, cdRate / 2), 660.0, 1.0);
    // The parts follow each other closely: no silence between them.
    EXPECT_NEAR(static_cast<double>(soundingFrames(std::vector(pcm.begin() + static_cast<std::ptrdiff_t>(*lead), pcm.end()), gapFrames)),
                5.5 * cdRate, 0.1 * cdRate);
}

// An hour and a half with no header to give its length is heard at once on a
// fresh player, and at once while another file plays.
TEST_F(EngineTest, ALargeFileWithoutAHeaderIsHeardAtOnceFreshOrReplacingAnother)
{
    const TempDir dir;
    const std::string large = largeHeaderlessFile(dir, 660.0, 60, 90);
    ASSERT_FALSE(large.empty());
    for (const char* state : {"fresh", "while another plays"}) {
        SCOPED_TRACE(state);
        const std::size_t recordedAtDrop = audio.framesRecorded();
        player.setFileName(QString::fromStdString(large));
        ASSERT_TRUE(waitUntil([&] { return audio.framesRecorded() > recordedAtDrop + cdRate / 2; }, 5s));
        const auto heard = firstAtPitch(left(), recordedAtDrop, 660.0);
        ASSERT_TRUE(heard.has_value());
        const double took = static_cast<double>(*heard - recordedAtDrop) / cdRate;
        std::cout << "large headerless file heard " << took * 1000 << " ms after it was asked for, " << state << "\n";
        EXPECT_LT(took, 0.100);
        EXPECT_NEAR(player.duration(), 90 * 60.0, 90 * 60.0 / 1000);
        ASSERT_TRUE(open("cbr44_long.mp3"));
        ASSERT_TRUE(playedFor(0.3));
    }
}

// After "Cannot play" the server rests: no stream of silence plays on.
TEST_F(EngineTest, AFailedOpenLeavesTheServerResting)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.3));
    QSignalSpy failures(&player, &MediaEngine::playbackFailed);
    player.setFileName(testFile("not_mpeg.mp3"));
    ASSERT_TRUE(failures.wait(5000));
    // Corked once the fade before it has played out.
    EXPECT_TRUE(waitUntil([&] { return sinkInputs().find("Corked: no") == std::string::npos; }, 1s))
        << sinkInputs();
}

TEST_F(EngineTest, AFileDeletedCutShortOrZeroedWhilePlayingEndsOrPlaysOnCleanly)
{
    const TempDir dir;
    const std::string copy = dir.file("playing.mp3");
    std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), copy);
    player.setFileName(QString::fromStdString(copy));
    ASSERT_TRUE(playedFor(0.3));

    // Deleted: the open file plays on.
    std::filesystem::remove(copy);
    ASSERT_TRUE(playedFor(0.8));
    EXPECT_EQ(player.playState(), PlayState::Playing);

    // Cut short in place, then filled with other bytes, or zeroed in place,
    // beyond the part already read: it ends as at the end, where what was
    // read runs out.
    const std::pair<const char*, std::function<void()>> alterations[] = {
        {"cut short",
         [&] {
             std::filesystem::resize_file(copy, 20000);
             std::ofstream(copy, std::ios::binary | std::ios::in | std::ios::out) << std::string(10000, '\x55');
         }},
        {"zeroed",
         [&] {
             const auto size = static_cast<std::size_t>(std::filesystem::file_size(copy));
             std::ofstream(copy, std::ios::binary | std::ios::in | std::ios::out) << std::string(size, '\0');
         }},
    };
    for (const auto& [what, alter] : alterations) {
        SCOPED_TRACE(what);
        std::filesystem::remove(copy);
        std::filesystem::copy_file(testFile("cbr44_long.mp3").toStdString(), copy);
        player.setFileName(QString::fromStdString(copy));
        ASSERT_TRUE(waitUntilOpen(player));
        alter();
        // Close to the end of what was read: the decoder soon reads on.
        player.setCurrentPosition(3.5);
        ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 6s));
        EXPECT_EQ(player.openState(), OpenState::Open);
        EXPECT_EQ(player.currentPosition(), 0.0);
    }
}

TEST(EngineLifetime, DestroyingAPlayingEngineSilencesItPromptly)
{
    const TestSink audio;
    TestSink::useInThisProcess();
    auto player = std::make_unique<SystemMediaPlayer>();
    player->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.2; }, 5s));
    const auto start = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(secondsSince(start), 0.3);
    const std::size_t recordedAtEnd = audio.framesRecorded();
    runEventsFor(200ms);
    const auto pcm = audio.read(recordedAtEnd + static_cast<std::size_t>(promptSeconds * cdRate)).channel(0);
    EXPECT_GT(pcm.size(), std::size_t{cdRate / 10});
    EXPECT_FALSE(firstSound(pcm).has_value());
}

} // namespace
