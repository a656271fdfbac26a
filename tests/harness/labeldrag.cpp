// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/labeldrag.h"

#include <chrono>

LabelDrag dragOntoLabel(const std::string& dragSourceBinary, const std::string& displayName, X11Connection& x11,
                        const Xdotool& xdotool, Window player, std::vector<std::string> arguments,
                        const std::string& sourceStdoutPath)
{
    ChildProcess::Options options;
    options.arguments = std::move(arguments);
    options.environment = {{"DISPLAY", displayName}};
    options.unset = {"QT_QPA_PLATFORM"};
    options.stdoutPath = sourceStdoutPath;
    LabelDrag drag;
    drag.source = std::make_unique<ChildProcess>(dragSourceBinary, options);
    drag.sourceWindow = x11.findWindow("drag source", std::chrono::seconds(10));
    if (!drag.sourceWindow)
        return drag;
    const auto at = x11.screenPosition(player);
    const auto from = x11.screenPosition(*drag.sourceWindow);
    drag.dragged = xdotool.drag(from.x + 100, from.y + 50, at.x + labelMiddleX, at.y + labelMiddleY);
    return drag;
}
