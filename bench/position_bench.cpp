// SPDX-License-Identifier: GPL-3.0-or-later
// How far the engine's reported position is from the audio that reaches the
// sink: the engine plays in-process through the null sink of a PulseAudio
// server of the bench's own, and the position is sampled against the
// recording while playing, paused, resumed and after another file replaced
// the first (the second file at another pitch, to tell them apart).
//
// The file time heard at a moment follows from when each recorded frame
// played (SinkClock) and where each stretch of the file begins in the
// recording: its first sound, the pause's silence, the resumed sound, the
// second file's tone.
//
// Usage: position_bench FILE SECOND_FILE SECOND_FILE_HZ RUNS
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include "engine/enginestates.h"
#include "support/systemmediaplayer.h"
#include "harness/pcm.h"
#include "harness/testsink.h"
#include "sinkchanges.h"
#include "sinkclock.h"
#include "stats.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int rate = TestSink::rate;
// A pause is a silence at least this long.
constexpr std::size_t pauseFrames = rate / 20;
// The pitch is read over 10 ms.
constexpr std::size_t pitchWindow = rate / 100;

struct Sample {
    Clock::time_point at;
    double position;
};

// A stretch of samples, and the wall time of the recording's frames learnt
// over that stretch alone, so that nothing from the changes around it (a
// stream starting, the server rewinding its sink) weighs on it.
struct Phase {
    std::vector<Sample> samples;
    SinkClock clock{rate};
};

// Samples the position and the recording's length every 3 ms, processing
// the engine's events, for `span`.
Phase sample(const TestSink& audio, const MediaPlayer& player, Clock::duration span)
{
    Phase phase;
    const auto start = Clock::now();
    while (Clock::now() - start < span) {
        const std::size_t recorded = audio.framesRecorded();
        const auto at = Clock::now();
        phase.clock.note(at, recorded);
        phase.samples.push_back({at, player.currentPosition()});
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(3000);
    }
    return phase;
}

// |reported − heard| in ms, where the file time `startsAt` is heard from
// recording frame `from` on.
void addErrors(const Phase& phase, std::size_t from, double startsAt, std::vector<double>& into)
{
    for (const Sample& s : phase.samples) {
        const double heard = startsAt + (phase.clock.frameAt(s.at) - static_cast<double>(from)) / rate;
        into.push_back(std::abs(s.position - heard) * 1000.0);
    }
}

[[noreturn]] void fail(const std::string& what)
{
    std::cerr << "position_bench: " << what << "\n";
    std::exit(1);
}

// The frame where the recording holds what it should.
std::size_t found(const std::optional<std::size_t>& frame, const char* lacking)
{
    if (!frame)
        fail(std::string("the recording holds ") + lacking);
    return *frame;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 5) {
        std::cerr << "usage: position_bench FILE SECOND_FILE SECOND_FILE_HZ RUNS\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
    const double secondHz = std::atof(argv[3]);
    std::vector<double> playing;
    std::vector<double> paused;
    std::vector<double> resumed;
    std::vector<double> replaced;
    for (int run = 0; run < std::atoi(argv[4]); ++run) {
        const TestSink audio;
        audio.useInThisProcess();
        SystemMediaPlayer player;
        player.setFileName(QString::fromLocal8Bit(argv[1]));
        const auto start = Clock::now();
        while (player.openState() != OpenState::Open || player.currentPosition() < 0.2) {
            if (Clock::now() - start > 10s)
                fail("the file did not play");
            sample(audio, player, 5ms);
        }
        const Phase a = sample(audio, player, 1500ms);
        player.pause();
        sample(audio, player, 100ms);
        const Phase b = sample(audio, player, 1000ms);
        player.play();
        sample(audio, player, 200ms);
        const Phase c = sample(audio, player, 1500ms);
        // The second file is heard after what had been recorded by then.
        player.setFileName(QString::fromLocal8Bit(argv[2]));
        const std::size_t recordedAtReplace = audio.framesRecorded();
        sample(audio, player, 200ms);
        const Phase d = sample(audio, player, 1500ms);

        const auto pcm = audio.read().channel(0);
        const std::size_t lead = found(firstSound(pcm), "no sound");
        const std::size_t silence = found(silenceFrom(pcm, lead, pauseFrames), "no pause");
        const std::size_t resumedFrom = found(firstSound(pcm, silence), "no sound after the pause");
        const std::size_t secondFrom =
            found(toneFrom(pcm, rate, secondHz, recordedAtReplace, pitchWindow), "no second file");
        // Paused, the position holds at the file time heard when the silence began.
        const double pausedAt = static_cast<double>(silence - lead) / rate;
        addErrors(a, lead, 0.0, playing);
        for (const Sample& s : b.samples)
            paused.push_back(std::abs(s.position - pausedAt) * 1000.0);
        addErrors(c, resumedFrom, pausedAt, resumed);
        addErrors(d, secondFrom, 0.0, replaced);
    }

    double worstMedian = 0.0;
    double worst = 0.0;
    std::cout << "| phase | samples | median error ms | worst error ms |\n|---|---|---|---|\n";
    for (const auto& [name, errors] : {std::pair{"playing", &playing}, std::pair{"paused", &paused},
                                       std::pair{"resumed", &resumed}, std::pair{"after a replace", &replaced}}) {
        const Spread s = spreadOf(*errors);
        std::printf("| %s | %zu | %.1f | %.1f |\n", name, errors->size(), s.median, s.max);
        worstMedian = std::max(worstMedian, s.median);
        worst = std::max(worst, s.max);
    }
    std::printf("\n| target | this run | met |\n|---|---|---|\n");
    std::printf("| median position error under 10 ms in every phase | %.1f ms | %s |\n", worstMedian,
                worstMedian < 10.0 ? "yes" : "no");
    std::printf("| worst position error under 10 ms in every phase | %.1f ms | %s |\n", worst,
                worst < 10.0 ? "yes" : "no");
    return 0;
}
