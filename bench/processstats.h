// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <sstream>
#include <string>

#include <sys/types.h>
#include <unistd.h>

#include "harness/threadwakeups.h"

// CPU time (user + system, all threads) and peak resident memory of a running
// process, read from /proc.
inline double cpuSecondsOfStat(const std::string& statPath)
{
    std::ifstream in(statPath);
    const std::string stat{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto afterName = stat.rfind(')');
    if (afterName == std::string::npos)
        return 0.0;
    std::istringstream fields(stat.substr(afterName + 2));
    std::string field;
    double utime = 0.0;
    double stime = 0.0;
    // From the state (field 3) on; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            utime = std::stod(field);
        if (number == 15)
            stime = std::stod(field);
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline double cpuSecondsOf(pid_t pid)
{
    return cpuSecondsOfStat("/proc/" + std::to_string(pid) + "/stat");
}

// CPU time by thread name.
inline std::map<std::string, double> threadCpuSecondsOf(pid_t pid)
{
    std::map<std::string, double> byName;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        byName[name] += cpuSecondsOfStat(task.path() / "stat");
    }
    return byName;
}

// Time a thread of a running process has run, in nanoseconds, as the
// scheduler counts it: finer than the clock ticks of its stat.
inline double cpuSecondsOfThread(pid_t pid, pid_t thread)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(thread) + "/schedstat");
    double ns = 0.0;
    in >> ns;
    return ns / 1e9;
}

// What each thread of a process has cost so far, by its id.
struct ThreadCosts {
    struct Cost {
        double cpuSeconds = 0.0;
        std::uint64_t contextSwitches = 0;
    };
    std::map<pid_t, Cost> byThread;

    static ThreadCosts of(pid_t pid)
    {
        ThreadCosts costs;
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
            const auto thread = static_cast<pid_t>(std::stol(task.path().filename().string()));
            costs.byThread[thread] = {cpuSecondsOfThread(pid, thread), contextSwitchesOf(pid, thread)};
        }
        return costs;
    }

    // What the threads alive now cost since `before`, or only the thread
    // `only`; a thread that ended meanwhile is not counted.
    Cost since(const ThreadCosts& before, pid_t only = 0) const
    {
        Cost sum;
        for (const auto& [thread, now] : byThread) {
            if (only != 0 && thread != only)
                continue;
            const auto then = before.byThread.find(thread);
            const Cost start = then == before.byThread.end() ? Cost{} : then->second;
            sum.cpuSeconds += now.cpuSeconds - start.cpuSeconds;
            sum.contextSwitches += now.contextSwitches - start.contextSwitches;
        }
        return sum;
    }
};

inline double peakRssMiBOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}
