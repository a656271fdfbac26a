// SPDX-License-Identifier: GPL-3.0-or-later
#include "desk.h"

#include <filesystem>
#include <thread>

#include "harness/labeldrag.h"
#include "harness/pcm.h"
#include "processstats.h"

using namespace std::chrono_literals;

Desk::Desk()
{
    std::filesystem::create_directories(dir.file("run"));
}

std::unique_ptr<ChildProcess> Desk::start(const std::string& program, std::vector<std::string> arguments)
{
    ChildProcess::Options options;
    options.arguments = std::move(arguments);
    options.environment = sound.clientEnvironment();
    options.environment.emplace_back("DISPLAY", display.name());
    options.environment.emplace_back("XDG_RUNTIME_DIR", dir.file("run"));
    options.unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
    return std::make_unique<ChildProcess>(program, options);
}

Cost Desk::measure(pid_t pid, double seconds) const
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

std::optional<std::pair<Window, double>> Desk::waitForPaint(const std::string& title, Clock::time_point since)
{
    while (Clock::now() - since < 10s) {
        if (const auto found = x11_.findWindow(title, 0ms)) {
            const X11Connection::Image image = x11_.grab(*found);
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

bool Desk::drop(Window player, const std::string& file)
{
    source_.reset(); // its window would be found instead of the new one's
    LabelDrag drag = dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11_, xdotool_, player, {file}, "/dev/null");
    source_ = std::move(drag.source);
    return drag.dragged;
}

bool Desk::click(Window window, int x, int y)
{
    const auto at = x11_.screenPosition(window);
    return xdotool_.moveTo(at.x + x, at.y + y) && xdotool_.press() && xdotool_.release();
}

std::optional<std::size_t> Desk::waitForSound(const SoundServer::Recording& recording, std::size_t from)
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
