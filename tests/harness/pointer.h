#pragma once

#include <string>
#include <vector>

// Drives the pointer of an X display through xdotool, as a user's mouse.
class Pointer {
public:
    explicit Pointer(std::string displayName) : display_(std::move(displayName)) {}

    bool moveTo(int x, int y) const;
    bool press() const;
    bool release() const;
    // Presses at (fromX, fromY), moves past the drag distance, steps onto
    // (toX, toY), pauses there and releases: a drag and drop.
    bool drag(int fromX, int fromY, int toX, int toY) const;

private:
    bool run(const std::vector<std::string>& arguments) const;

    std::string display_;
};
