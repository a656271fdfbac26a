// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/types.h>

// How many times a thread of a running process has left the CPU, by waiting
// or by being preempted, as /proc counts them: a thread that sleeps between
// its events leaves it once for each wake-up. 0 once the thread is gone.
inline std::uint64_t contextSwitchesOf(pid_t pid, pid_t thread)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(thread) + "/status");
    std::uint64_t switches = 0;
    for (std::string line; std::getline(in, line);) {
        for (const char* field : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
            if (line.rfind(field, 0) == 0)
                switches += std::stoull(line.substr(std::strlen(field)));
        }
    }
    return switches;
}
