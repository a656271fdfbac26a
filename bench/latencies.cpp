// SPDX-License-Identifier: GPL-3.0-or-later
#include "latencies.h"

#include <functional>

#include "harness/pcm.h"
#include "sinkchanges.h"
#include "sinkwatch.h"

using namespace std::chrono_literals;

namespace {

// A silence is 10 ms without sound; a pitch is read over 10 ms.
constexpr std::size_t silenceFrames = SinkWatch::rate / 100;
constexpr std::size_t pitchWindow = SinkWatch::rate / 100;

} // namespace

bool measureLatencies(Remote& player, const SoundServer::Recording& recording, const LatencyFiles& files,
                      Latencies& into, std::string& error)
{
    SinkWatch sink(recording);
    const SinkWatch::Finder sound = [](const auto& pcm) { return firstSound(pcm); };
    const SinkWatch::Finder silence = [](const auto& pcm) { return silenceFrom(pcm, 0, silenceFrames); };
    const SinkWatch::Finder second = [&files](const auto& pcm) {
        return toneFrom(pcm, SinkWatch::rate, files.secondHz, 0, pitchWindow);
    };
    // The sink changes after what had been recorded when the command was
    // given; when, the clock learnt over the next 400 ms tells.
    const auto step = [&](Latencies::Step which, const std::function<bool()>& command,
                          const SinkWatch::Finder& change) {
        if (!command()) {
            error = std::string("cannot give the command: ") + Latencies::names[which];
            return false;
        }
        const auto given = SinkWatch::Clock::now();
        const auto heard = sink.waitFor(sink.framesRecorded(), change, 3s);
        if (!heard) {
            error = std::string("not heard within 3 s: ") + Latencies::names[which];
            return false;
        }
        sink.restartClock();
        sink.watch(400ms);
        into.ms[which].push_back(sink.clock.msFrom(given, *heard));
        return true;
    };
    // The recorder's first moments can come in a burst: let it settle.
    sink.watch(300ms);
    return step(Latencies::LoadFresh, [&] { return player.load(files.first); }, sound)
           && step(Latencies::Pause, [&] { return player.pause(); }, silence)
           && step(Latencies::Resume, [&] { return player.resume(); }, sound)
           && step(Latencies::Stop, [&] { return player.stop(); }, silence)
           && step(Latencies::LoadStopped, [&] { return player.load(files.first); }, sound)
           && step(Latencies::Replace, [&] { return player.load(files.second); }, second);
}
