// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "harness/tempdir.h"

// A sound server that has hung: a unix socket that takes connections into its
// backlog and never reads or answers them. libpulse's connection to it is
// made at once and then waits.
class SilentServer {
public:
    SilentServer() : path_(dir_.file("native")), fd_(::socket(AF_UNIX, SOCK_STREAM, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd_, 64) != 0)
            throw std::runtime_error("cannot listen on " + path_);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    ~SilentServer() { close(fd_); }

    // What a client needs to connect to it.
    std::vector<std::pair<std::string, std::string>> clientEnvironment() const
    {
        return {{"PULSE_SERVER", "unix:" + path_}};
    }
    void useInThisProcess() const { setenv("PULSE_SERVER", ("unix:" + path_).c_str(), 1); }

private:
    TempDir dir_;
    std::string path_;
    int fd_;
};
