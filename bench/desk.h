// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harness/process.h"
#include "harness/soundserver.h"
#include "harness/tempdir.h"
#include "harness/virtualdisplay.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"

// What one stretch of running costs, per minute of it.
struct Cost {
    double player = 0.0;
    double server = 0.0;
    double xServer = 0.0;
    double peakRssMiB = 0.0;
    std::map<std::string, double> threads; // the player's, by name
};

// A virtual display and a PulseAudio server with a null sink, both the
// bench's own, on which programs are started, watched and driven with the
// pointer as a user drives them.
class Desk {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int sinkRate = 44100;

    Desk();

    std::unique_ptr<ChildProcess> start(const std::string& program, std::vector<std::string> arguments = {});

    // CPU per minute of the process, the sound server and the X server over
    // `seconds` of real time.
    Cost measure(pid_t pid, double seconds) const;

    // Time from `since` until a window of that title is mapped and painted:
    // light background with dark text on it.
    std::optional<std::pair<Window, double>> waitForPaint(const std::string& title, Clock::time_point since);

    // Drags `file` from a drag source onto the player's label.
    bool drop(Window player, const std::string& file);

    // Presses and releases the left button at (x, y) of the window.
    bool click(Window window, int x, int y);

    // Unmaps and maps the window as a window manager does; asks the window
    // manager (if one runs) to iconify it.
    bool unmap(Window window) const { return xdotool_.unmap(window); }
    bool map(Window window) const { return xdotool_.map(window); }
    bool iconify(Window window) const { return xdotool_.minimize(window); }

    // The frame of the first sound the recording holds at or after `from`.
    static std::optional<std::size_t> waitForSound(const SoundServer::Recording& recording, std::size_t from);

    const TempDir dir;
    const VirtualDisplay display;
    SoundServer sound;

private:
    X11Connection x11_{display.name()};
    const Xdotool xdotool_{display.name()};
    std::unique_ptr<ChildProcess> source_;
};
