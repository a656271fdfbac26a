// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the player as a user runs it, beside its peers in the same run:
// on a virtual display, through a PulseAudio null sink of its own, driven
// with the pointer (clicks on its buttons, files dragged onto it), and mpv
// through its IPC socket. Prints markdown tables of medians with their range
// over the runs, and the targets met or not.
//
// Usage: desktop_bench FILE SECOND_FILE SECOND_FILE_HZ SECONDS RUNS
//   (SECOND_FILE: a tone of SECOND_FILE_HZ, heard by its pitch when it
//   replaces FILE)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <tuple>

#include "desk.h"
#include "harness/player.h"
#include "latencies.h"
#include "merlowbymouse.h"
#include "mpvbyipc.h"
#include "stats.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Latency cycles per run, for each player.
constexpr int latencyCycles = 3;

[[noreturn]] void fail(const std::string& what)
{
    std::cerr << "desktop_bench: " << what << "\n";
    std::exit(1);
}

struct Rows {
    std::map<std::string, std::vector<Cost>> costs;
    std::vector<std::string> order;

    void add(const std::string& name, const Cost& cost)
    {
        if (!costs.contains(name))
            order.push_back(name);
        costs[name].push_back(cost);
    }

    Spread of(const std::string& name, const std::function<double(const Cost&)>& field) const
    {
        std::vector<double> values;
        for (const Cost& cost : costs.at(name))
            values.push_back(field(cost));
        return spreadOf(values);
    }
};

// CPU of all the player's threads but the GUI thread (named as the program).
double besidesGuiThread(const Cost& cost)
{
    double sum = 0.0;
    for (const auto& [name, cpu] : cost.threads)
        sum += name == "merlow" ? 0.0 : cpu;
    return sum;
}

double guiThread(const Cost& cost)
{
    return cost.threads.contains("merlow") ? cost.threads.at("merlow") : 0.0;
}

// A recording of the sink from now on, at the recorder's 10 ms latency. The
// file is new: the recording is under way once data has reached it.
std::unique_ptr<SoundServer::Recording> recordSink(Desk& desk)
{
    const std::string path = desk.dir.file("latency.raw");
    std::filesystem::remove(path);
    return std::make_unique<SoundServer::Recording>(desk.sound, path, 10);
}

void measureMerlowLatencies(Desk& desk, const LatencyFiles& files, Latencies& into)
{
    const auto recording = recordSink(desk);
    auto merlow = desk.start(MERLOW_BINARY);
    const auto painted = desk.waitForPaint(playerCaption, Clock::now());
    if (!painted)
        fail("Merlow did not paint");
    MerlowByMouse remote(desk, painted->first);
    std::string error;
    if (!measureLatencies(remote, *recording, files, into, error))
        fail("Merlow: " + error);
}

void measureMpvLatencies(Desk& desk, const LatencyFiles& files, Latencies& into)
{
    const auto recording = recordSink(desk);
    const std::string socket = desk.dir.file("mpv.socket");
    std::filesystem::remove(socket);
    auto mpv = desk.start("/usr/bin/mpv", {"--input-ipc-server=" + socket, "--idle=yes", "--no-config",
                                           "--no-terminal", "--no-video", "--ao=pulse"});
    MpvByIpc remote(socket);
    if (!remote.connected())
        fail("cannot connect to mpv's IPC socket");
    std::string error;
    if (!measureLatencies(remote, *recording, files, into, error))
        fail("mpv: " + error);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 6)
        fail("usage: desktop_bench FILE SECOND_FILE SECOND_FILE_HZ SECONDS RUNS");
    const std::string file = argv[1];
    const LatencyFiles latencyFiles{file, argv[2], std::atof(argv[3])};
    const double seconds = std::atof(argv[4]);
    const int runs = std::atoi(argv[5]);
    Desk desk;
    Rows playback;
    Rows idle;
    std::vector<double> paintMerlow;
    std::vector<double> paintBare;
    Latencies merlowLatencies;
    Latencies mpvLatencies;

    for (int run = 0; run < runs; ++run) {
        std::cerr << "run " << run + 1 << " of " << runs << "\n";
        // Start to first paint, the two programs in turn, so that both meet
        // the machine in the same state.
        for (int start = 0; start < 5; ++start) {
            for (const char* program : {BARE_WINDOW_BINARY, MERLOW_BINARY}) {
                const auto started = Clock::now();
                auto process = desk.start(program);
                const auto painted = desk.waitForPaint(playerCaption, started);
                if (!painted)
                    fail(std::string(program) + " did not paint");
                (program == std::string(MERLOW_BINARY) ? paintMerlow : paintBare).push_back(painted->second);
            }
        }
        // What the window costs with nothing to do.
        for (const auto& [name, program, arguments] :
             std::vector<std::tuple<std::string, std::string, std::vector<std::string>>>{
                 {"bare Qt window", BARE_WINDOW_BINARY, {}},
                 {"bare Qt window + 200 ms key-map poll", BARE_WINDOW_BINARY, {"--keymap"}},
                 {"bare Qt window + 10 ms tick", BARE_WINDOW_BINARY, {"--tick"}},
                 {"Merlow, no file", MERLOW_BINARY, {}}}) {
            auto process = desk.start(program, arguments);
            if (!desk.waitForPaint(playerCaption, Clock::now()))
                fail(name + " did not paint");
            idle.add(name, desk.measure(process->pid(), seconds));
        }

        // Playback through the sink, each player in turn on the same file.
        {
            const SoundServer::Recording recording(desk.sound, desk.dir.file("cost.raw"), 500);
            auto merlow = desk.start(MERLOW_BINARY);
            const auto painted = desk.waitForPaint(playerCaption, Clock::now());
            if (!painted || !desk.drop(painted->first, file) || !Desk::waitForSound(recording, 0))
                fail("Merlow did not play");
            playback.add("Merlow", desk.measure(merlow->pid(), seconds));
            if (!MerlowByMouse(desk, painted->first).stop())
                fail("cannot click stop");
            // Stopped, the stream stays open but corked once its fade has
            // played: the server no longer mixes it.
            std::this_thread::sleep_for(100ms);
            idle.add("Merlow, file stopped", desk.measure(merlow->pid(), seconds));
        }
        for (const auto& [name, program, arguments] :
             std::vector<std::tuple<std::string, std::string, std::vector<std::string>>>{
                 {"mpg123 -o pulse", "/usr/bin/mpg123", {"-q", "-o", "pulse", file}},
                 {"mpv --no-video --ao=pulse", "/usr/bin/mpv",
                  {"--no-config", "--no-terminal", "--no-video", "--ao=pulse", file}}}) {
            const SoundServer::Recording recording(desk.sound, desk.dir.file("cost.raw"), 500);
            auto peer = desk.start(program, arguments);
            if (!Desk::waitForSound(recording, 0))
                fail(name + " did not play");
            playback.add(name, desk.measure(peer->pid(), seconds));
        }

        // From each command to the sink, the two players in turn, each
        // started afresh for every cycle.
        for (int cycle = 0; cycle < latencyCycles; ++cycle) {
            measureMerlowLatencies(desk, latencyFiles, merlowLatencies);
            measureMpvLatencies(desk, latencyFiles, mpvLatencies);
        }
    }

    const auto perMinute = [](const Spread& s) { return formatSpread(s, 3); };
    std::cout << "### Playback, CPU seconds per minute and peak memory\n\n"
              << "| player | player CPU | sound server CPU | sum | X server CPU | peak RSS MiB |\n"
              << "|---|---|---|---|---|---|\n";
    for (const std::string& name : playback.order) {
        std::cout << "| " << name << " | " << perMinute(playback.of(name, [](const Cost& c) { return c.player; }))
                  << " | " << perMinute(playback.of(name, [](const Cost& c) { return c.server; })) << " | "
                  << perMinute(playback.of(name, [](const Cost& c) { return c.player + c.server; })) << " | "
                  << perMinute(playback.of(name, [](const Cost& c) { return c.xServer; })) << " | "
                  << formatSpread(playback.of(name, [](const Cost& c) { return c.peakRssMiB; }), 1) << " |\n";
    }
    const auto median = [&](const Rows& rows, const std::string& name, const std::function<double(const Cost&)>& field) {
        return rows.of(name, field).median;
    };
    const auto sum = [&](const std::string& name) {
        return median(playback, name, [](const Cost& c) { return c.player + c.server; });
    };
    std::printf("\nMerlow / mpg123 (player + server): %.2fx; Merlow / mpv: %.2fx\n\n",
                sum("Merlow") / sum("mpg123 -o pulse"), sum("Merlow") / sum("mpv --no-video --ao=pulse"));

    std::cout << "Merlow's playback CPU by thread, seconds per minute:\n\n| thread | CPU |\n|---|---|\n";
    for (const auto& thread : playback.costs.at("Merlow").front().threads) {
        const std::string& name = thread.first;
        const Spread cpu = playback.of("Merlow", [&name](const Cost& c) {
            return c.threads.contains(name) ? c.threads.at(name) : 0.0;
        });
        std::cout << "| " << name << " | " << perMinute(cpu) << " |\n";
    }
    std::cout << "\n";

    std::cout << "### Idle, CPU seconds per minute and peak memory\n\n"
              << "| window | CPU | X server CPU | peak RSS MiB |\n|---|---|---|---|\n";
    for (const std::string& name : idle.order) {
        std::cout << "| " << name << " | " << perMinute(idle.of(name, [](const Cost& c) { return c.player; })) << " | "
                  << perMinute(idle.of(name, [](const Cost& c) { return c.xServer; })) << " | "
                  << formatSpread(idle.of(name, [](const Cost& c) { return c.peakRssMiB; }), 1) << " |\n";
    }
    const Spread merlowPaint = spreadOf(paintMerlow);
    const Spread barePaint = spreadOf(paintBare);
    std::cout << "\n### Start to first paint, ms\n\n| program | ms |\n|---|---|\n"
              << "| bare Qt window | " << formatSpread(barePaint, 1) << " |\n"
              << "| Merlow | " << formatSpread(merlowPaint, 1) << " |\n";

    std::printf("\n### From a command to the sink, ms (%d each)\n\n"
                "Merlow: a click on its button, or a file dragged onto it; mpv: a command on its IPC socket.\n\n"
                "| command → the sink | Merlow median | Merlow worst | mpv median | mpv worst |\n"
                "|---|---|---|---|---|\n",
                runs * latencyCycles);
    for (std::size_t step = 0; step < Latencies::stepCount; ++step) {
        const Spread merlow = spreadOf(merlowLatencies.ms[step]);
        const Spread mpv = spreadOf(mpvLatencies.ms[step]);
        std::printf("| %s | %.1f | %.1f | %.1f | %.1f |\n", Latencies::names[step], merlow.median, merlow.max,
                    mpv.median, mpv.max);
    }

    // The targets, from the medians of this run.
    std::cout << "\n### Targets\n\n| target | this run | met |\n|---|---|---|\n";
    const auto target = [](const std::string& what, double value, const char* unit, bool met) {
        std::printf("| %s | %.2f%s | %s |\n", what.c_str(), value, unit, met ? "yes" : "no");
    };
    const auto player = [](const Cost& c) { return c.player; };
    const auto server = [](const Cost& c) { return c.server; };
    const double serverToMpg123 = median(playback, "Merlow", server) / median(playback, "mpg123 -o pulse", server);
    const double threadsToMpg123 =
        median(playback, "Merlow", besidesGuiThread) / median(playback, "mpg123 -o pulse", player);
    const double guiToTick = median(playback, "Merlow", guiThread) / median(idle, "bare Qt window + 10 ms tick", player);
    const double toMpv = sum("Merlow") / sum("mpv --no-video --ao=pulse");
    target("sound server CPU for Merlow's stream, at most 1.1x mpg123's", serverToMpg123, "x", serverToMpg123 <= 1.1);
    target("Merlow's threads but the GUI thread, at most 1.2x mpg123's player CPU", threadsToMpg123, "x",
           threadsToMpg123 <= 1.2);
    target("the GUI thread playing, at most 1.1x the bare window's 10 ms tick", guiToTick, "x", guiToTick <= 1.1);
    target("player + server, under half of mpv's", toMpv, "x", toMpv < 0.5);
    for (const Latencies::Step step : {Latencies::Pause, Latencies::Stop, Latencies::Replace}) {
        const Spread ms = spreadOf(merlowLatencies.ms[step]);
        std::printf("| %s: median within 30 ms, worst under 50 ms | %.1f ms, worst %.1f ms | %s |\n",
                    Latencies::names[step], ms.median, ms.max, ms.median <= 30.0 && ms.max < 50.0 ? "yes" : "no");
    }
    for (const Latencies::Step step : {Latencies::Resume, Latencies::LoadFresh, Latencies::LoadStopped}) {
        const double ms = spreadOf(merlowLatencies.ms[step]).median;
        target(std::string(Latencies::names[step]) + ": median within 30 ms", ms, " ms", ms <= 30.0);
    }
    const double extraRss = median(playback, "Merlow", [](const Cost& c) { return c.peakRssMiB; })
                            - median(idle, "bare Qt window", [](const Cost& c) { return c.peakRssMiB; });
    target("first paint within 1.2x of the bare Qt window", merlowPaint.median / barePaint.median, "x",
           merlowPaint.median <= 1.2 * barePaint.median);
    target("peak RSS within 10 MiB of the bare Qt window", extraRss, " MiB more", extraRss <= 10.0);
    const double keyTick = median(idle, "bare Qt window + 200 ms key-map poll", player)
                           - median(idle, "bare Qt window", player);
    const double idleNoFile = median(idle, "Merlow, no file", player) - std::max(0.0, keyTick);
    target("idle with no file, less the key-map poll, under 0.05 s/min", idleNoFile, " s/min", idleNoFile < 0.05);
    return 0;
}
