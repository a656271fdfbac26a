#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

#include <QSignalSpy>
#include <QThread>
#include <gtest/gtest.h>

#include "decode/mpg123decoder.h"
#include "engine/enginestates.h"
#include "engine/fakeoutput.h"
#include "engine/mediaplayer.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace {

constexpr int cdRate = TestSink::rate;
constexpr double toneA = 440.0;
constexpr double toneC = 523.25;
// The engine's fade at starts and stops.
constexpr std::size_t fadeFrames = cdRate / 200;
// A gap between tones longer than any zero crossing.
constexpr std::size_t gapFrames = 2000;
// Pause, stop and replace are heard within this, the sink's recorder's own
// delay included.
constexpr double promptSeconds = 0.030;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What the test's sound server says of its streams.
std::string sinkInputs()
{
    std::string listing;
    FILE* pactl = popen("pactl list sink-inputs 2>&1", "r");
    char buffer[4096];
    for (std::size_t got = 0; pactl != nullptr && (got = fread(buffer, 1, sizeof buffer, pactl)) > 0;)
        listing.append(buffer, got);
    if (pactl != nullptr)
        pclose(pactl);
    return listing;
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
    const std::string joined = dir.file("large.mp3");
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
        return waitUntil([&] { return player.openState() == OpenState::Open; }, 5s);
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
    runEventsFor(100ms);
    EXPECT_EQ(sinkInputs().find("Corked: no"), std::string::npos) << sinkInputs();
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

TEST(EngineLifetime, DestroyingAPlayingEngineSilencesItPromptly)
{
    const TestSink audio;
    audio.useInThisProcess();
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

// No server and no ALSA device: reported; Play works once a server is back.
TEST(EngineWithoutAudio, NoOutputIsReportedAndPlayingWorksOnceOneIsBack)
{
    const TempDir dir;
    std::ofstream(dir.file("asound.conf")) << "# no devices\n";
    setenv("ALSA_CONFIG_PATH", dir.file("asound.conf").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + dir.file("no-server")).c_str(), 1);
    SystemMediaPlayer player;
    QSignalSpy failures(&player, &MediaEngine::playbackFailed);
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(failures.wait(5000));
    EXPECT_TRUE(failures[0][1].toString().contains(QStringLiteral("audio output"))) << failures[0][1].toString().toStdString();
    EXPECT_EQ(player.openState(), OpenState::Closed);
    EXPECT_EQ(player.playState(), PlayState::Stopped);

    const TestSink audio;
    audio.useInThisProcess();
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Open; }, 5s));
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
    std::ofstream(dir.file("asound.conf")) << "pcm.!default {\n  type file\n  slave.pcm discard\n  file \"" << written
                                           << "\"\n  format raw\n}\npcm.discard { type null }\n";
    setenv("ALSA_CONFIG_PATH", dir.file("asound.conf").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + dir.file("no-server")).c_str(), 1);
    SystemMediaPlayer player;
    QSignalSpy failures(&player, &MediaEngine::playbackFailed);
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Open; }, 5s));
    ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 10s));
    EXPECT_TRUE(failures.isEmpty());

    const auto pcm = readPcm(written, cdRate, 2).channel(0);
    const auto lead = firstSound(pcm);
    ASSERT_TRUE(lead.has_value());
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *lead + cdRate, cdRate / 2), toneA, 1.0);
    EXPECT_NEAR(static_cast<double>(soundingFrames(pcm, gapFrames)), 4.0 * cdRate, 3.0 * fadeFrames);
}

std::unique_ptr<SampleSource> openDecoder(const std::string& path, std::string& error, std::stop_token cancel)
{
    return Mpg123Decoder::open(path, error, std::move(cancel));
}

// An open that lasts until it is abandoned, for "slow.mp3"; others open as
// usual.
std::unique_ptr<SampleSource> openSlowly(const std::string& path, std::string& error, std::stop_token cancel)
{
    if (path != "slow.mp3")
        return openDecoder(path, error, std::move(cancel));
    const auto start = std::chrono::steady_clock::now();
    while (!cancel.stop_requested() && secondsSince(start) < 20.0)
        std::this_thread::sleep_for(1ms);
    error = "cancelled";
    return nullptr;
}

// However long an open would take, a new file or the engine's end abandons
// it at once.
TEST(EngineOpening, ANewFileOrTheEnginesEndAbandonsAnOpenAtOnce)
{
    auto player = std::make_unique<MediaPlayer>(std::make_unique<FakeOutput>(std::make_shared<FakeOutput::Log>()),
                                                openSlowly, nullptr);
    player->setFileName(QStringLiteral("slow.mp3"));
    runEventsFor(50ms);
    const auto replaced = std::chrono::steady_clock::now();
    player->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->openState() == OpenState::Open; }, 5s));
    EXPECT_LT(secondsSince(replaced), 0.1);
    EXPECT_EQ(player->playState(), PlayState::Playing);

    player->setFileName(QStringLiteral("slow.mp3"));
    runEventsFor(50ms);
    const auto closing = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(secondsSince(closing), 0.1);
}

// A decoder stuck on a bad stretch of its file: it gives nothing and never
// says it ended.
class StalledSource : public SampleSource {
public:
    int rate() const override { return cdRate; }
    int channels() const override { return 2; }
    std::int64_t lengthFrames() const override { return std::int64_t{4} * cdRate; }
    std::size_t read(std::int16_t* /*out*/, std::size_t /*maxSamples*/, bool& ended) override
    {
        ended = false;
        return 0;
    }
    bool seekToFrame(std::int64_t /*frame*/) override { return true; }
};

// The engine with an output that plays nothing, for what needs no sound.
class EngineLogicTest : public ::testing::Test {
protected:
    bool open(const QString& path)
    {
        player.setFileName(path);
        return waitUntil([&] { return player.openState() == OpenState::Open; }, 5s);
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

// A file joined from a 44.1 kHz stereo part and a 48 kHz mono one: each part
// reaches the output whole, in its own format, the second after the first.
TEST(EngineOnAJoinedFile, PlaysEachPartInItsOwnFormat)
{
    const auto log = std::make_shared<FakeOutput::Log>();
    MediaPlayer player(std::make_unique<FakeOutput>(log, 20.0), openDecoder, nullptr);
    player.setFileName(testFile("joined44_48.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Open; }, 5s));
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
TEST_F(EngineLogicTest, StopWhileOpeningIsKept)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        SCOPED_TRACE(attempt);
        player.setFileName(testFile("cbr44_stereo.mp3"));
        player.stop();
        ASSERT_TRUE(waitUntil([&] { return player.openState() == OpenState::Open; }, 5s));
        runEventsFor(20ms);
        EXPECT_EQ(player.playState(), PlayState::Stopped);
        EXPECT_EQ(player.currentPosition(), 0.0);
    }
}

// A decoder that makes no progress does not keep the engine's thread busy:
// within a second the file is given up as unplayable, and the engine closes at
// once.
TEST(EngineWithAStalledDecoder, GivesTheFileUpWithinASecondAndClosesAtOnce)
{
    const auto openStalled = [](const std::string&, std::string&, std::stop_token) -> std::unique_ptr<SampleSource> {
        return std::make_unique<StalledSource>();
    };
    auto player = std::make_unique<MediaPlayer>(std::make_unique<FakeOutput>(std::make_shared<FakeOutput::Log>()),
                                                openStalled, nullptr);
    QSignalSpy failures(player.get(), &MediaEngine::playbackFailed);
    const auto dropped = std::chrono::steady_clock::now();
    player->setFileName(QStringLiteral("stalled.mp3"));
    ASSERT_TRUE(failures.wait(3000));
    EXPECT_LT(secondsSince(dropped), 1.5);
    EXPECT_TRUE(failures[0][1].toString().contains(QStringLiteral("no progress"))) << failures[0][1].toString().toStdString();
    EXPECT_EQ(player->openState(), OpenState::Closed);
    EXPECT_EQ(player->playState(), PlayState::Stopped);

    player->setFileName(QStringLiteral("stalled.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player->openState() == OpenState::Open; }, 2s));
    const auto closing = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(secondsSince(closing), 0.3);
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

} // namespace
