// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

// A child process started from a path with arguments, this process's
// environment plus overrides, and its output sent to files. It is killed if
// still running when the object goes.
class ChildProcess {
public:
    struct Options {
        std::vector<std::string> arguments;
        std::vector<std::pair<std::string, std::string>> environment;
        std::vector<std::string> unset;
        std::string stdoutPath = "/dev/null";
        std::string stderrPath = "/dev/null";
    };

    ChildProcess(const std::string& path, const Options& options);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    bool running();
    // The exit status (or 128 + signal), once it has exited within the timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL if it has not gone within the grace time.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

private:
    bool reap(int options);

    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string readFile(const std::string& path);

// What a program run to its end printed.
struct ProgramOutput {
    std::optional<int> status; // nothing when it did not end in time
    std::string out;
    std::string err;
};
// Runs a program to its end, or until the timeout, its output captured; the
// output paths in `options` are its own.
ProgramOutput runToEnd(const std::string& path, ChildProcess::Options options, std::chrono::milliseconds timeout);

// The first line written to `fd`, without its newline: empty when none comes
// within the timeout. For a child that says on a pipe when it is ready. Closes
// `fd`.
std::string readFirstLine(int fd, std::chrono::milliseconds timeout);
