// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/virtualdisplay.h"

#include <stdexcept>

#include <unistd.h>

#include "harness/process.h"

VirtualDisplay::VirtualDisplay(int width, int height)
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    ChildProcess::Options options;
    options.arguments = {"-displayfd", std::to_string(fds[1]), "-noreset", "-nolisten", "tcp",
                         "-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24"};
    server_ = std::make_unique<ChildProcess>("/usr/bin/Xvfb", options);
    close(fds[1]);

    // Xvfb writes its display number once it accepts connections.
    const std::string number = readFirstLine(fds[0], std::chrono::seconds(10));
    if (number.empty())
        throw std::runtime_error("Xvfb did not start");
    name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay()
{
    server_->stop();
}

pid_t VirtualDisplay::pid() const
{
    return server_->pid();
}
