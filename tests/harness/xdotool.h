// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

// Drives an X display's pointer, keyboard and focus through xdotool, as a
// user's mouse and keyboard would.
class Xdotool {
public:
    explicit Xdotool(std::string displayName) : display_(std::move(displayName)) {}

    bool moveTo(int x, int y) const;
    bool press() const;
    bool release() const;
    // Presses at (fromX, fromY), moves past the drag distance, steps onto
    // (toX, toY), pauses there and releases: a drag and drop.
    bool drag(int fromX, int fromY, int toX, int toY) const;

    // Key names as xdotool knows them ("Caps_Lock", "a").
    bool keyDown(const std::vector<std::string>& keys) const;
    bool keyUp(const std::vector<std::string>& keys) const;
    bool focus(unsigned long window) const;
    // Unmaps or maps the window, as a window manager does to iconify it and
    // show it again; returns once the X server has done so.
    bool unmap(unsigned long window) const;
    bool map(unsigned long window) const;
    // Asks the window manager to iconify the window.
    bool minimize(unsigned long window) const;
    // Gives the window the focus, then presses and releases a key.
    bool keyIn(unsigned long window, const std::string& key) const;

private:
    bool run(const std::vector<std::string>& arguments) const;

    std::string display_;
};
