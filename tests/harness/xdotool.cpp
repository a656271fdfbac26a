// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/xdotool.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "harness/process.h"

bool Xdotool::run(const std::vector<std::string>& arguments) const
{
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = {{"DISPLAY", display_}};
    ChildProcess xdotool("/usr/bin/xdotool", options);
    return xdotool.waitForExit(std::chrono::seconds(10)) == 0;
}

bool Xdotool::moveTo(int x, int y) const
{
    return run({"mousemove", std::to_string(x), std::to_string(y)});
}

bool Xdotool::press() const
{
    return run({"mousedown", "1"});
}

bool Xdotool::release() const
{
    return run({"mouseup", "1"});
}

bool Xdotool::drag(int fromX, int fromY, int toX, int toY) const
{
    if (!moveTo(fromX, fromY) || !press() || !moveTo(fromX + 15, fromY + 5))
        return false;
    constexpr int steps = 8;
    for (int i = 1; i <= steps; ++i) {
        if (!moveTo(fromX + 15 + (toX - fromX - 15) * i / steps, fromY + 5 + (toY - fromY - 5) * i / steps))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Give the drop target time to answer the last position before the drop.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return release();
}

bool Xdotool::keyDown(const std::vector<std::string>& keys) const
{
    std::vector<std::string> arguments;
    for (const std::string& key : keys)
        arguments.insert(arguments.end(), {"keydown", key});
    return run(arguments);
}

bool Xdotool::keyUp(const std::vector<std::string>& keys) const
{
    std::vector<std::string> arguments;
    // Released in the reverse order of pressing.
    std::for_each(keys.rbegin(), keys.rend(), [&](const std::string& key) {
        arguments.insert(arguments.end(), {"keyup", key});
    });
    return run(arguments);
}

bool Xdotool::unmap(unsigned long window) const
{
    return run({"windowunmap", "--sync", std::to_string(window)});
}

bool Xdotool::map(unsigned long window) const
{
    return run({"windowmap", "--sync", std::to_string(window)});
}

bool Xdotool::minimize(unsigned long window) const
{
    return run({"windowminimize", "--sync", std::to_string(window)});
}

bool Xdotool::focus(unsigned long window) const
{
    return run({"windowfocus", "--sync", std::to_string(window)});
}

bool Xdotool::keyIn(unsigned long window, const std::string& key) const
{
    return run({"windowfocus", "--sync", std::to_string(window), "key", key});
}
