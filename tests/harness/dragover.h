// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <string>

#include "harness/windowprobe.h"
#include "harness/x11window.h"

// What the drag over a window was told.
struct DragOverAnswers {
    // The answers that refused the file.
    std::atomic<int> refused{0};
};

// A file held dragged over a point of a window and never dropped, as a file
// manager's drag hovers before the drop: each position the drag sends over
// XDND is answered by the window's status, whether it would take the file,
// once its GUI thread has handled it and fetched the dragged data.
class DragOver : private DragOverAnswers, public WindowProbe {
public:
    // At `x`, `y` on the screen.
    DragOver(const std::string& displayName, Window window, const std::string& file, int x, int y);

    // Whether the window answered, and took the file every time.
    bool acceptedThroughout() const { return answered() > 0 && refused.load() == 0; }
};
