// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include <sys/types.h>

class ChildProcess;

// An Xvfb server on a display number it picks itself, stopped by its PID when
// the object goes. It does not reset when its last client leaves.
class VirtualDisplay {
public:
    VirtualDisplay(int width = 1024, int height = 768);
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    ~VirtualDisplay();

    // As DISPLAY takes it: ":N".
    const std::string& name() const { return name_; }
    pid_t pid() const;

private:
    std::unique_ptr<ChildProcess> server_;
    std::string name_;
};
