// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harness/process.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"

// The middle of the player's label, in its window.
inline constexpr int labelMiddleX = 352;
inline constexpr int labelMiddleY = 20;

// A drag from the stand-in file manager onto the middle of the player's
// label, made with the pointer as a user makes it. The source offers what its
// command line says, and prints on its stdout how the drag ended. An earlier
// source must be gone, or its window is the one found.
struct LabelDrag {
    std::unique_ptr<ChildProcess> source;
    std::optional<Window> sourceWindow;
    bool dragged = false;
};

LabelDrag dragOntoLabel(const std::string& dragSourceBinary, const std::string& displayName, X11Connection& x11,
                        const Xdotool& xdotool, Window player, std::vector<std::string> arguments,
                        const std::string& sourceStdoutPath);
