// Measures the player as a user runs it, beside its peers in the same run:
// on a virtual display, through a PulseAudio null sink of its own, with files
// dropped for real from a drag source. Prints markdown tables of medians with
// their range over the runs.
//
// Usage: desktop_bench FILE SECONDS RUNS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <thread>
#include <tuple>

#include "harness/labeldrag.h"
#include "harness/pcm.h"
#include "harness/player.h"
#include "harness/process.h"
#include "harness/soundserver.h"
#include "harness/tempdir.h"
#include "harness/virtualdisplay.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"
#include "processstats.h"
#include "stats.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int sinkRate = 44100;

// What one stretch of running costs, per minute of it.
struct Cost {
    double player = 0.0;
    double server = 0.0;
    double xServer = 0.0;
    double peakRssMiB = 0.0;
    std::map<std::string, double> threads; // the player's, by name
};

class Desk {
public:
    Desk() { std::filesystem::create_directories(dir.file("run")); }

    std::unique_ptr<ChildProcess> start(const std::string& program, std::vector<std::string> arguments = {})
    {
        ChildProcess::Options options;
        options.arguments = std::move(arguments);
        options.environment = sound.clientEnvironment();
        options.environment.emplace_back("DISPLAY", display.name());
        options.environment.emplace_back("XDG_RUNTIME_DIR", dir.file("run"));
        options.unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "SDL_DISKAUDIOFILE"};
        return std::make_unique<ChildProcess>(program, options);
    }

    // CPU per minute of the process, the sound server and the X server over
    // `seconds` of real time.
    Cost measure(pid_t pid, double seconds) const
    {
        const double player = cpuSecondsOf(pid);
        const double server = cpuSecondsOf(sound.pid());
        const double x = cpuSecondsOf(display.pid());
        const auto threads = threadCpuSecondsOf(pid);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const double perMinute = 60.0 / seconds;
        Cost cost{(cpuSecondsOf(pid) - player) * perMinute, (cpuSecondsOf(sound.pid()) - server) * perMinute,
                  (cpuSecondsOf(display.pid()) - x) * perMinute, peakRssMiBOf(pid), {}};
        for (const auto& [name, cpu] : threadCpuSecondsOf(pid))
            cost.threads[name] = (cpu - (threads.contains(name) ? threads.at(name) : 0.0)) * perMinute;
        return cost;
    }

    // Time from now until a window of that title is mapped and painted: light
    // background with dark text on it.
    std::optional<std::pair<Window, double>> waitForPaint(const std::string& title, Clock::time_point since)
    {
        while (Clock::now() - since < 10s) {
            if (const auto found = x11.findWindow(title, 0ms)) {
                const X11Connection::Image image = x11.grab(*found);
                std::size_t light = 0;
                std::size_t dark = 0;
                for (const std::uint32_t p : image.pixels) {
                    light += luminance(p) > 200 ? 1 : 0;
                    dark += luminance(p) < 80 ? 1 : 0;
                }
                if (!image.pixels.empty() && light > image.pixels.size() / 2 && dark > 40)
                    return std::pair{*found, std::chrono::duration<double, std::milli>(Clock::now() - since).count()};
            }
            std::this_thread::sleep_for(500us);
        }
        return std::nullopt;
    }

    // Drags `file` from a drag source onto the player's label.
    bool drop(Window player, const std::string& file)
    {
        source.reset(); // its window would be found instead of the new one's
        LabelDrag drag = dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11, xdotool, player, {file},
                                       "/dev/null");
        source = std::move(drag.source);
        return drag.dragged;
    }

    bool clickStop(Window player)
    {
        const auto at = x11.screenPosition(player);
        return xdotool.moveTo(at.x + 196, at.y + 16) && xdotool.press() && xdotool.release();
    }

    // The frame of the first sound the recording holds at or after `from`.
    static std::optional<std::size_t> waitForSound(const SoundServer::Recording& recording, std::size_t from)
    {
        const auto start = Clock::now();
        while (Clock::now() - start < 10s) {
            const auto pcm = readPcm(recording.path(), sinkRate, 2, from).channel(0);
            if (const auto sound = firstSound(pcm))
                return from + *sound;
            std::this_thread::sleep_for(1ms);
        }
        return std::nullopt;
    }

    const VirtualDisplay display;
    SoundServer sound;
    const TempDir dir;
    X11Connection x11{display.name()};
    const Xdotool xdotool{display.name()};
    std::unique_ptr<ChildProcess> source;
};

void fail(const std::string& what)
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

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4)
        fail("usage: desktop_bench FILE SECONDS RUNS");
    const std::string file = argv[1];
    const double seconds = std::atof(argv[2]);
    const int runs = std::atoi(argv[3]);
    Desk desk;
    Rows playback;
    Rows idle;
    std::vector<double> paintMerlow;
    std::vector<double> paintBare;
    // Drops onto a player stopped for so long before (0: just started).
    std::vector<std::pair<std::chrono::milliseconds, std::vector<double>>> dropRows{
        {0ms, {}}, {300ms, {}}, {2000ms, {}}};

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
            if (!desk.clickStop(painted->first))
                fail("cannot click stop");
            // Once the stopped player has let its device go.
            std::this_thread::sleep_for(1500ms);
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

        // Drop to the first sound on the sink: onto a fresh player, then onto
        // the same player stopped a moment ago (its device still open), then
        // stopped for longer (its device let go).
        for (int drop = 0; drop < 2; ++drop) {
            const SoundServer::Recording recording(desk.sound, desk.dir.file("drop.raw"), 10);
            auto merlow = desk.start(MERLOW_BINARY);
            const auto painted = desk.waitForPaint(playerCaption, Clock::now());
            if (!painted)
                fail("Merlow did not paint");
            for (auto& [stoppedFor, into] : dropRows) {
                if (stoppedFor > 0ms) {
                    if (!desk.clickStop(painted->first))
                        fail("cannot click stop");
                    std::this_thread::sleep_for(stoppedFor);
                }
                if (!desk.drop(painted->first, file))
                    fail("cannot drop on Merlow");
                const std::size_t atDrop = recording.framesRecorded();
                const auto sound = Desk::waitForSound(recording, atDrop);
                if (!sound)
                    fail("Merlow did not play the drop");
                into.push_back(static_cast<double>(*sound - atDrop) * 1000.0 / sinkRate);
            }
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
    const auto sum = [&](const std::string& name) {
        return playback.of(name, [](const Cost& c) { return c.player + c.server; }).median;
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
    std::cout << "\n### Drop to first sound on the sink, ms\n\n| Merlow | ms |\n|---|---|\n";
    const char* dropNames[] = {"just started", "stopped 0.3 s before", "stopped 2 s before"};
    for (std::size_t i = 0; i < dropRows.size(); ++i)
        std::cout << "| " << dropNames[i] << " | " << formatSpread(spreadOf(dropRows[i].second), 1) << " |\n";

    // The targets, from the medians of this run.
    const auto median = [&](const Rows& rows, const std::string& name, double Cost::*field) {
        return rows.of(name, [field](const Cost& c) { return c.*field; }).median;
    };
    const double keyTick = median(idle, "bare Qt window + 200 ms key-map poll", &Cost::player)
                           - median(idle, "bare Qt window", &Cost::player);
    const double idleNoFile = median(idle, "Merlow, no file", &Cost::player) - std::max(0.0, keyTick);
    const double extraRss = median(playback, "Merlow", &Cost::peakRssMiB) - median(idle, "bare Qt window", &Cost::peakRssMiB);
    const double drop = spreadOf(dropRows.front().second).median;
    std::cout << "\n### Targets\n\n| target | this run | met |\n|---|---|---|\n";
    const auto target = [](const char* what, double value, const char* unit, bool met) {
        std::printf("| %s | %.2f%s | %s |\n", what, value, unit, met ? "yes" : "no");
    };
    const double toMpg123 = sum("Merlow") / sum("mpg123 -o pulse");
    const double toMpv = sum("Merlow") / sum("mpv --no-video --ao=pulse");
    target("playback CPU + server, at most 1.5x mpg123's", toMpg123, "x", toMpg123 <= 1.5);
    target("playback CPU + server, under half of mpv's", toMpv, "x", toMpv < 0.5);
    target("peak RSS within 10 MiB of the bare Qt window", extraRss, " MiB more", extraRss <= 10.0);
    target("first paint within 1.2x of the bare Qt window", merlowPaint.median / barePaint.median, "x",
           merlowPaint.median <= 1.2 * barePaint.median);
    target("drop to first audio under 50 ms (just started)", drop, " ms", drop < 50.0);
    target("idle with no file, less the key-map poll, under 0.05 s/min", idleNoFile, " s/min", idleNoFile < 0.05);
    return 0;
}
