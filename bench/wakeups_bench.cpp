// SPDX-License-Identifier: GPL-3.0-or-later
// Measures what the player costs where nothing it shows can change or be
// seen: with no file, paused, stopped, playing with its window unmapped or
// iconified under a window manager; and playing shown, for comparison. Each
// against the bare Qt window with the 200 ms key-map poll, in the same run:
// the CPU and context switches of the process's threads, and of the
// window's thread, from /proc. Prints a markdown table of medians with their range over the
// runs, and the targets met or not.
//
// Usage: wakeups_bench FILE SECONDS RUNS [PLAYER]
//   (PLAYER: the player's binary, by default the one built)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "desk.h"
#include "harness/player.h"
#include "merlowbymouse.h"
#include "processstats.h"
#include "stats.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string bareWithPoll = "bare Qt window + 200 ms key-map poll";
const std::string openbox = "/usr/bin/openbox";

[[noreturn]] void fail(const std::string& what)
{
    std::cerr << "wakeups_bench: " << what << "\n";
    std::exit(1);
}

// Per second of a stretch of real time.
struct Wakeups {
    double cpuMs = 0.0;
    double windowCpuMs = 0.0;
    double switches = 0.0;
    double windowSwitches = 0.0;
};

Wakeups measure(pid_t pid, double seconds)
{
    const ThreadCosts before = ThreadCosts::of(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    const ThreadCosts after = ThreadCosts::of(pid);
    const ThreadCosts::Cost all = after.since(before);
    const ThreadCosts::Cost window = after.since(before, pid);
    return {all.cpuSeconds * 1000.0 / took, window.cpuSeconds * 1000.0 / took,
            static_cast<double>(all.contextSwitches) / took, static_cast<double>(window.contextSwitches) / took};
}

struct Rows {
    std::map<std::string, std::vector<Wakeups>> measured;
    std::vector<std::string> order;

    void add(const std::string& state, const Wakeups& w)
    {
        if (!measured.contains(state))
            order.push_back(state);
        measured[state].push_back(w);
    }

    Spread of(const std::string& state, double Wakeups::*field) const
    {
        std::vector<double> values;
        for (const Wakeups& w : measured.at(state))
            values.push_back(w.*field);
        return spreadOf(values);
    }
};

// The player, shown, painted and playing `file` into the sink.
struct Playing {
    std::unique_ptr<ChildProcess> process;
    Window window;
};

Playing startPlaying(Desk& desk, const std::string& player, const std::string& file,
                     const SoundServer::Recording& recording)
{
    auto process = desk.start(player);
    const auto painted = desk.waitForPaint(playerCaption, Clock::now());
    if (!painted)
        fail("the player did not paint");
    Playing playing{std::move(process), painted->first};
    if (!desk.drop(playing.window, file) || !Desk::waitForSound(recording, recording.framesRecorded()))
        fail("the player did not play");
    return playing;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4 && argc != 5)
        fail("usage: wakeups_bench FILE SECONDS RUNS [PLAYER]");
    const std::string file = argv[1];
    const double seconds = std::atof(argv[2]);
    const int runs = std::atoi(argv[3]);
    const std::string player = argc == 5 ? argv[4] : MERLOW_BINARY;
    const bool withWindowManager = std::filesystem::exists(openbox);
    Desk desk;
    Rows rows;

    for (int run = 0; run < runs; ++run) {
        std::cerr << "run " << run + 1 << " of " << runs << "\n";
        {
            auto bare = desk.start(BARE_WINDOW_BINARY, {"--keymap"});
            if (!desk.waitForPaint(playerCaption, Clock::now()))
                fail("the bare window did not paint");
            rows.add(bareWithPoll, measure(bare->pid(), seconds));
        }
        {
            auto idle = desk.start(player);
            if (!desk.waitForPaint(playerCaption, Clock::now()))
                fail("the player did not paint");
            rows.add("no file", measure(idle->pid(), seconds));
        }
        {
            const SoundServer::Recording recording(desk.sound, desk.dir.file("wakeups.raw"), 500);
            Playing playing = startPlaying(desk, player, file, recording);
            const pid_t pid = playing.process->pid();
            MerlowByMouse mouse(desk, playing.window);
            rows.add("playing, shown", measure(pid, seconds));
            // Each command has been heard within 30 ms; the stream has settled
            // well within this.
            constexpr auto settled = 300ms;
            if (!mouse.pause())
                fail("cannot click pause");
            std::this_thread::sleep_for(settled);
            rows.add("paused", measure(pid, seconds));
            if (!mouse.resume() || !desk.unmap(playing.window))
                fail("cannot resume and unmap");
            std::this_thread::sleep_for(settled);
            rows.add("playing, window unmapped", measure(pid, seconds));
            if (!desk.map(playing.window) || !mouse.stop())
                fail("cannot map and stop");
            std::this_thread::sleep_for(settled);
            rows.add("stopped after playing", measure(pid, seconds));
        }
        if (withWindowManager) {
            auto manager = desk.start(openbox, {"--sm-disable"});
            // It has taken the screen once it manages a new window.
            std::this_thread::sleep_for(1s);
            const SoundServer::Recording recording(desk.sound, desk.dir.file("wakeups.raw"), 500);
            Playing playing = startPlaying(desk, player, file, recording);
            if (!desk.iconify(playing.window))
                fail("cannot iconify under openbox");
            std::this_thread::sleep_for(300ms);
            rows.add("playing, iconified under openbox", measure(playing.process->pid(), seconds));
        }
    }

    std::printf("| state (%g s each, %d runs) | player CPU ms/s | of it the window's thread | context switches/s "
                "| of them the window's thread | window's thread's switches / the bare window's |\n"
                "|---|---|---|---|---|---|\n",
                seconds, runs);
    const double bareWindow = rows.of(bareWithPoll, &Wakeups::windowSwitches).median;
    for (const std::string& state : rows.order) {
        const Spread window = rows.of(state, &Wakeups::windowSwitches);
        std::printf("| %s | %s | %s | %s | %s | %.2fx |\n", state.c_str(),
                    formatSpread(rows.of(state, &Wakeups::cpuMs), 2).c_str(),
                    formatSpread(rows.of(state, &Wakeups::windowCpuMs), 2).c_str(),
                    formatSpread(rows.of(state, &Wakeups::switches), 1).c_str(), formatSpread(window, 1).c_str(),
                    window.median / bareWindow);
    }
    if (!withWindowManager)
        std::printf("\n(openbox is not installed: no row for an iconified window.)\n");

    // The targets, from the medians of this run.
    std::printf("\n| target | this run | met |\n|---|---|---|\n");
    const double bareCpuMs = rows.of(bareWithPoll, &Wakeups::cpuMs).median;
    for (const std::string& state : rows.order) {
        if (state == bareWithPoll || state == "playing, shown")
            continue;
        const double wakeups = rows.of(state, &Wakeups::windowSwitches).median;
        // CPU beyond the bare window, in seconds a minute: while playing, the
        // window's thread's, as decoding and output go on whatever is seen.
        const bool playing = state.rfind("playing", 0) == 0;
        const double cpuMs = rows.of(state, playing ? &Wakeups::windowCpuMs : &Wakeups::cpuMs).median;
        const double beyond = (cpuMs - bareCpuMs) * 60.0 / 1000.0;
        if (state == "no file") {
            const double ratio = wakeups / bareWindow;
            std::printf("| no file: at most 6 wakeups a second, within 1.2x the bare window's | %.1f /s, %.2fx | %s |\n",
                        wakeups, ratio, wakeups <= 6.0 && ratio <= 1.2 ? "yes" : "no");
        } else {
            std::printf("| %s: at most 6 wakeups a second, under 0.05 s of CPU a minute beyond the bare window%s "
                        "| %.1f /s, %+.3f s/min | %s |\n",
                        state.c_str(), playing ? " (the window's thread)" : "", wakeups, beyond,
                        wakeups <= 6.0 && beyond < 0.05 ? "yes" : "no");
        }
    }
    return 0;
}
