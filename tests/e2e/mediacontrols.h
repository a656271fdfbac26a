// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "harness/desktop.h"
#include "harness/sessionbus.h"

// A private session bus, up before the player that finds it.
struct PrivateSessionBus {
    const SessionBus bus;
};

// The player on `bus`, run by `wrapper` if given (its arguments first).
inline PlayerLaunch launchOnBus(const SessionBus& bus, const std::vector<std::string>& wrapper = {})
{
    PlayerLaunch launch;
    launch.wrapper = wrapper;
    launch.environment = {bus.environment()};
    return launch;
}

// The player on a virtual display and a private session bus, driven by
// clients nobody here wrote: playerctl, dbus-send and dbus-monitor.
class MediaControls : public PrivateSessionBus, public DesktopDrop {
protected:
    explicit MediaControls(const std::vector<std::string>& wrapper = {})
        : DesktopDrop(launchOnBus(bus, wrapper))
    {
    }

    static std::string trimmed(std::string text)
    {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return text;
    }

    // `playerctl -p merlow ARGUMENTS`, its output without the last newline.
    std::string playerctl(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> all{"-p", "merlow"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return trimmed(bus.run("/usr/bin/playerctl", all).out);
    }

    // The players playerctl lists.
    std::vector<std::string> players() const
    {
        std::istringstream lines(bus.run("/usr/bin/playerctl", {"--list-all"}).out);
        std::vector<std::string> names;
        for (std::string name; std::getline(lines, name);)
            names.push_back(name);
        std::sort(names.begin(), names.end());
        return names;
    }

    // Calls a method of the player's interface directly, as any client may,
    // whatever the abilities it announces.
    bool callPlayer(const std::string& method) const { return call("org.mpris.MediaPlayer2.Player." + method); }

    // Calls a method, named with its interface, on the player's object.
    bool call(const std::string& interfaceMethod) const
    {
        return bus.run("/usr/bin/dbus-send", {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.merlow",
                                              "/org/mpris/MediaPlayer2", interfaceMethod})
                   .status
               == 0;
    }

    // dbus-monitor watching the signals of the player's object, once it listens.
    std::unique_ptr<ChildProcess> monitorSignals(const std::string& outputPath) const
    {
        auto monitor =
            bus.start("/usr/bin/dbus-monitor", {"--session", "type='signal',path='/org/mpris/MediaPlayer2'"}, outputPath);
        // It says so once the bus has made it a monitor.
        pollUntil([&] { return readFile(outputPath).find("NameLost") != std::string::npos; }, 5s, 5ms);
        return monitor;
    }

    // What the monitor wrote, once it has written `text` or the time is up.
    static std::string waitForOutput(const std::string& outputPath, const std::string& text,
                                     std::chrono::milliseconds timeout)
    {
        std::string said;
        pollUntil([&] { return (said = readFile(outputPath)).find(text) != std::string::npos; }, timeout, 5ms);
        return said;
    }

    bool waitForPlayers(std::size_t count) const
    {
        return pollUntil([&] { return players().size() == count; }, 10s, 20ms).has_value();
    }

    // The status once it reads `wanted`, or the last one read within the time.
    std::string waitForStatus(const std::string& wanted, std::chrono::milliseconds timeout = 3s) const
    {
        std::string status;
        pollUntil([&] { return (status = playerctl({"status"})) == wanted; }, timeout, 10ms);
        return status;
    }
};
