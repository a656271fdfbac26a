#include <chrono>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <iostream>

#include <QSignalSpy>
#include <QThread>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/mediaplayer.h"
#include "harness/diskaudio.h"
#include "support/testdata.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace {

constexpr int cdRate = 44100;
constexpr double toneA = 440.0;
constexpr double toneC = 523.25;
// The engine's buffer at 44.1 kHz, and its fade at starts and stops.
constexpr std::size_t bufferFrames = 4096;
constexpr std::size_t fadeFrames = cdRate / 200;
// A gap between tones longer than any zero crossing.
constexpr std::size_t gapFrames = 2000;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class EngineTest : public ::testing::Test {
protected:
    EngineTest() { audio.useInThisProcess(); }

    bool open(const char* name)
    {
        player.setFileName(testFile(name));
        return waitUntil([&] { return player.openState() == OpenState::Open; }, 5s);
    }

    bool playedFor(double seconds)
    {
        return waitUntil([&] { return player.currentPosition() >= seconds; }, 5s);
    }

    std::vector<std::int16_t> left() const { return audio.read(cdRate, 2).channel(0); }

    DiskAudio audio;
    MediaPlayer player;
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
    EXPECT_NE(player.openState(), OpenState::Open);
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

TEST_F(EngineTest, DurationIsWithinATenthOfASecondForCbrAndVbr)
{
    const std::pair<const char*, double> files[] = {
        {"cbr44_stereo.mp3", 4.0}, {"cbr44_noheader.mp3", 4.0}, {"vbr44.mp3", 4.0},
        {"vbr44_noheader.mp3", 4.0}, {"mono48.mp3", 1.5},         {"id3v2.mp3", 2.0},
    };
    for (const auto& [name, seconds] : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(name));
        EXPECT_NEAR(player.duration(), seconds, 0.1);
        std::cout << "duration error " << name << ": " << (player.duration() - seconds) * 1000 << " ms\n";
    }
}

// The disk driver writes a buffer as the callback hands it over, so the
// moment the file grows is when that buffer starts being heard.
TEST_F(EngineTest, PositionIsThatOfTheAudioHeardWithinThirtyMilliseconds)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.2));

    struct Sample {
        std::size_t bufferStart; // device frame the newest buffer starts at
        double sinceWrite;
        double position;
    };
    std::vector<Sample> samples;
    std::size_t written = audio.framesWritten(2);
    auto writtenAt = std::chrono::steady_clock::now();
    const auto start = std::chrono::steady_clock::now();
    bool sampledThisBuffer = false;
    while (secondsSince(start) < 1.5) {
        const std::size_t now = audio.framesWritten(2);
        if (now != written) {
            written = now;
            writtenAt = std::chrono::steady_clock::now();
            sampledThisBuffer = false;
        } else if (!sampledThisBuffer && secondsSince(writtenAt) > 0.04) {
            samples.push_back({written - bufferFrames, secondsSince(writtenAt), player.currentPosition()});
            sampledThisBuffer = true;
        }
        QThread::usleep(500);
    }
    const auto lead = firstSound(left());
    ASSERT_TRUE(lead.has_value());
    ASSERT_GE(samples.size(), 10U);
    double worst = 0.0;
    for (const Sample& s : samples) {
        const double heard = (static_cast<double>(s.bufferStart) - static_cast<double>(*lead)) / cdRate + s.sinceWrite;
        worst = std::max(worst, std::abs(s.position - heard));
    }
    std::cout << "worst position error: " << worst * 1000 << " ms over " << samples.size() << " samples\n";
    EXPECT_LT(worst, 0.030);
}

// A paused engine lets its device go, so nothing works on silence; Play
// opens a new one (SDL's disk driver starts its file afresh) that plays from
// the paused sample on. Its first buffer is the file's, unless SDL's thread
// writes one of silence before the device is started.
TEST_F(EngineTest, APausedEngineLetsItsDeviceGoAndResumesFromThePausedSample)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.5));
    player.pause();
    const auto paused = std::chrono::steady_clock::now();
    std::size_t written = audio.framesWritten(2);
    auto grewAt = paused;
    while (secondsSince(grewAt) < 0.5 && secondsSince(paused) < 4.0) {
        if (audio.framesWritten(2) != written) {
            written = audio.framesWritten(2);
            grewAt = std::chrono::steady_clock::now();
        }
        runEventsFor(10ms);
    }
    const double released = std::chrono::duration<double>(grewAt - paused).count();
    std::cout << "device let go " << released * 1000 << " ms after the pause\n";
    EXPECT_LT(released, 1.5);
    const double held = player.currentPosition();
    EXPECT_GT(held, 0.5);

    player.play();
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 6s));
    const auto pcm = left();
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    EXPECT_LE(*lead, bufferFrames + fadeFrames);
    // The rest of the file, once: nothing skipped or repeated.
    const std::size_t sounding = soundingFrames(pcm, gapFrames);
    EXPECT_NEAR(static_cast<double>(sounding), (4.0 - held) * cdRate, 3.0 * fadeFrames);
}

TEST_F(EngineTest, PauseSilencesWithinABufferAndResumeContinuesFromThePausedSample)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.5));
    const std::size_t writtenAtPause = audio.framesWritten(2);
    player.pause();
    EXPECT_EQ(player.playState(), PlayState::Paused);

    runEventsFor(200ms);
    const double held = player.currentPosition();
    runEventsFor(300ms);
    EXPECT_EQ(player.currentPosition(), held);
    EXPECT_GT(held, 0.5);

    player.play();
    EXPECT_EQ(player.playState(), PlayState::Playing);
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 6s));

    const auto pcm = left();
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    std::vector<Stretch> gaps;
    for (const Stretch& s : silentStretches(pcm, gapFrames)) {
        if (s.start > *lead)
            gaps.push_back(s);
    }
    ASSERT_GE(gaps.size(), 1U);
    const Stretch& pause = gaps.front();
    std::cout << "pause took effect "
              << (static_cast<double>(pause.start) - static_cast<double>(writtenAtPause)) / cdRate * 1000
              << " ms after the pause call's buffer\n";
    EXPECT_LE(pause.start, writtenAtPause + bufferFrames + fadeFrames);
    EXPECT_GT(pause.length, cdRate * 4 / 10);

    // Every sample of the file was heard once: nothing skipped or repeated.
    const std::size_t sounding =
        soundingFrames(std::vector(pcm.begin() + static_cast<std::ptrdiff_t>(*lead), pcm.end()), gapFrames);
    EXPECT_NEAR(static_cast<double>(sounding), 4.0 * cdRate, 3.0 * fadeFrames);
    // The fades keep the edges smooth: no step larger than the tone's own.
    const int toneStep = largestStep(pcm, *lead + cdRate / 10, cdRate / 10);
    EXPECT_LE(largestStep(pcm, pause.start - fadeFrames, 2 * fadeFrames), toneStep * 11 / 10);
    EXPECT_LE(largestStep(pcm, pause.start + pause.length - fadeFrames, 2 * fadeFrames), toneStep * 11 / 10);
}

TEST_F(EngineTest, StopSilencesAndRewindsAndPlayStartsFromTheTop)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.5));
    const std::size_t writtenAtStop = audio.framesWritten(2);
    player.stop();
    EXPECT_EQ(player.playState(), PlayState::Stopped);
    EXPECT_EQ(player.currentPosition(), 0.0);
    runEventsFor(300ms);
    EXPECT_EQ(player.currentPosition(), 0.0);
    EXPECT_EQ(player.openState(), OpenState::Open);

    const auto pcm = left();
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    const auto stretches = silentStretches(pcm, gapFrames);
    const auto silence = std::find_if(stretches.begin(), stretches.end(), [&](const Stretch& s) { return s.start > *lead; });
    ASSERT_NE(silence, stretches.end());
    EXPECT_LE(silence->start, writtenAtStop + bufferFrames + fadeFrames);

    player.play();
    EXPECT_EQ(player.playState(), PlayState::Playing);
    ASSERT_TRUE(playedFor(0.3));
    EXPECT_LT(player.currentPosition(), 0.5);
}

TEST_F(EngineTest, EndOfFileStopsAndRewindsWithTheFileStillOpen)
{
    for (const char* name : {"mono48.mp3", "truncated.mp3"}) {
        SCOPED_TRACE(name);
        std::vector<int> stops;
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

TEST_F(EngineTest, ReplacingAPlayingFilePlaysTheNewOne)
{
    ASSERT_TRUE(open("cbr44_stereo.mp3"));
    ASSERT_TRUE(playedFor(0.3));
    QSignalSpy changes(&player, &MediaEngine::openStateChange);
    player.setFileName(testFile("vbr44.mp3"));
    ASSERT_TRUE(waitUntil([&] { return changes.size() == 2; }, 5s));
    EXPECT_EQ(changes[0], (QVariantList{OpenState::Open, OpenState::Opening}));
    EXPECT_EQ(changes[1], (QVariantList{OpenState::Opening, OpenState::Open}));
    EXPECT_EQ(player.playState(), PlayState::Playing);
    EXPECT_NEAR(player.duration(), 4.0, 0.1);

    ASSERT_TRUE(playedFor(0.4));
    const auto pcm = left();
    ASSERT_GT(pcm.size(), std::size_t{cdRate / 4});
    EXPECT_NEAR(toneFrequency(pcm, cdRate, pcm.size() - cdRate / 4, cdRate / 4), toneC, 1.0);
}

TEST_F(EngineTest, AFileThatCannotBePlayedIsClosedAndTheReasonReported)
{
    const TempDir folder;
    const std::pair<QString, QString> cases[] = {
        {testFile("not_mpeg.mp3"), QStringLiteral("no MPEG audio frames")},
        {testFile("no_such_file.mp3"), QStringLiteral("No such file")},
        {QString::fromStdString(folder.path()), QStringLiteral("not a regular file")},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path.toStdString());
        ASSERT_TRUE(open("cbr44_stereo.mp3"));
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

TEST_F(EngineTest, AFileDeletedOrCutShortWhilePlayingEndsOrPlaysOnCleanly)
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

    // Cut short in place, then filled with other bytes: it ends as at the end.
    std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), copy);
    player.setFileName(QString::fromStdString(copy));
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Open; }, 5s));
    ASSERT_TRUE(playedFor(0.3));
    std::filesystem::resize_file(copy, 20000);
    std::ofstream(copy, std::ios::binary | std::ios::in | std::ios::out) << std::string(10000, '\x55');
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 6s));
    EXPECT_EQ(player.openState(), OpenState::Open);
    EXPECT_EQ(player.currentPosition(), 0.0);
}

TEST_F(EngineTest, EveryCallSucceedsInEveryState)
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
    exerciseAll(); // opening
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Open; }, 5s));
    exerciseAll(); // open
    player.setFileName(testFile("not_mpeg.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Closed; }, 5s));
    exerciseAll(); // after a failure
    player.setFileName(QString());
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Closed; }, 5s));
    exerciseAll();
}

TEST(EngineLifetime, DestroyingAPlayingEngineEndsPlaybackPromptly)
{
    const DiskAudio audio;
    audio.useInThisProcess();
    auto player = std::make_unique<MediaPlayer>();
    player->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.2; }, 5s));
    const auto start = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(secondsSince(start), 0.3);
    const std::size_t written = audio.framesWritten(2);
    runEventsFor(200ms);
    EXPECT_EQ(audio.framesWritten(2), written);
}

TEST(EngineWithoutAudio, NoDeviceIsReportedAndPlayingWorksOnceOneIsBack)
{
    DiskAudio audio;
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    MediaPlayer player;
    QSignalSpy failures(&player, &MediaEngine::playbackFailed);
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(failures.wait(5000));
    EXPECT_TRUE(failures[0][1].toString().contains(QStringLiteral("audio output")));
    EXPECT_EQ(player.openState(), OpenState::Closed);
    EXPECT_EQ(player.playState(), PlayState::Stopped);

    audio.useInThisProcess();
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Open; }, 5s));
    EXPECT_EQ(player.playState(), PlayState::Playing);
}

} // namespace
