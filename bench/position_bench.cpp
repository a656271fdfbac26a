// How far the engine's reported position is from the audio delivered, through
// SDL's disk driver paced in real time: sampled while playing, paused and
// after resuming. The audio delivered at a moment is the count of sounding
// frames written up to it, so silence from the pause does not count. A pause
// outlasts the engine's idle time, so it resumes on a new device, whose file
// the disk driver starts afresh.
//
// Usage: position_bench FILE RUNS
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include <QCoreApplication>
#include <QThread>

#include "engine/enginestates.h"
#include "engine/mediaplayer.h"
#include "harness/testsink.h"
#include "harness/pcm.h"
#include "stats.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int rate = 44100;
constexpr std::size_t bufferFrames = 4096;

struct Sample {
    std::size_t deviceFrame; // the device frame being heard
    double position;
};

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Samples the position for `seconds`, at least 40 ms after the newest write
// and 50 ms after the last sample.
void sample(const TestSink& audio, const MediaPlayer& player, double seconds, std::vector<Sample>& into)
{
    std::size_t written = audio.framesRecorded();
    auto writtenAt = Clock::now();
    auto sampledAt = Clock::now();
    const auto start = Clock::now();
    while (secondsSince(start) < seconds) {
        const std::size_t now = audio.framesRecorded();
        if (now != written) {
            written = now;
            writtenAt = Clock::now();
        } else if (secondsSince(writtenAt) > 0.04 && secondsSince(sampledAt) > 0.05) {
            // The newest buffer started being heard when it was written.
            const auto since = std::min(bufferFrames, static_cast<std::size_t>(secondsSince(writtenAt) * rate));
            into.push_back({written - bufferFrames + since, player.currentPosition()});
            sampledAt = Clock::now();
        }
        std::this_thread::sleep_for(500us);
    }
}

double soundingSeconds(const std::vector<std::int16_t>& pcm, std::size_t upTo)
{
    const std::vector<std::int16_t> part(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(std::min(upTo, pcm.size())));
    return static_cast<double>(soundingFrames(part, rate / 20)) / rate;
}

// |reported − delivered| in ms for each sample, `before` seconds having been
// delivered ahead of what the capture file holds.
std::vector<double> errorsMs(const std::vector<std::int16_t>& pcm, const std::vector<Sample>& samples, double before)
{
    std::vector<double> errors;
    errors.reserve(samples.size());
    for (const Sample& s : samples)
        errors.push_back(std::abs(s.position - before - soundingSeconds(pcm, s.deviceFrame)) * 1000.0);
    return errors;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::cerr << "usage: position_bench FILE RUNS\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
    std::vector<double> playing;
    std::vector<double> paused;
    std::vector<double> resumed;
    for (int run = 0; run < std::atoi(argv[2]); ++run) {
        const TestSink audio;
        audio.useInThisProcess();
        MediaPlayer player;
        player.setFileName(QString::fromLocal8Bit(argv[1]));
        const auto start = Clock::now();
        while (player.openState() != OpenState::Open || audio.framesRecorded() < 2 * bufferFrames) {
            if (secondsSince(start) > 10) {
                std::cerr << "position_bench: the file did not play\n";
                return 1;
            }
            QThread::msleep(1);
        }
        std::vector<Sample> a;
        std::vector<Sample> b;
        std::vector<Sample> c;
        sample(audio, player, 2.0, a);
        player.pause();
        // Once the buffer in flight has played out.
        std::this_thread::sleep_for(200ms);
        sample(audio, player, 1.5, b);
        const auto beforeResume = audio.read(rate, 2).channel(0);
        const double deliveredBeforeResume = soundingSeconds(beforeResume, beforeResume.size());
        player.play();
        std::this_thread::sleep_for(200ms);
        sample(audio, player, 2.0, c);
        for (const auto& [samples, into] : {std::pair{&a, &playing}, std::pair{&b, &paused}}) {
            const std::vector<double> errors = errorsMs(beforeResume, *samples, 0.0);
            into->insert(into->end(), errors.begin(), errors.end());
        }
        const std::vector<double> errors = errorsMs(audio.read(rate, 2).channel(0), c, deliveredBeforeResume);
        resumed.insert(resumed.end(), errors.begin(), errors.end());
    }
    double worst = 0.0;
    std::cout << "| phase | samples | median error ms | worst error ms |\n|---|---|---|---|\n";
    for (const auto& [name, errors] : {std::pair{"playing", &playing}, std::pair{"paused", &paused},
                                       std::pair{"resumed", &resumed}}) {
        const Spread s = spreadOf(*errors);
        std::printf("| %s | %zu | %.1f | %.1f |\n", name, errors->size(), s.median, s.max);
        worst = std::max(worst, s.max);
    }
    std::printf("\nTarget, position error under 30 ms: %s\n", worst < 30.0 ? "met" : "not met");
    return 0;
}
