// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "harness/tempdir.h"

// Files that are not regular, as a user might drop them: a FIFO with no
// writer and a listening socket, made in a folder of the test's.
class NonRegularFiles {
public:
    explicit NonRegularFiles(const TempDir& dir);
    NonRegularFiles(const NonRegularFiles&) = delete;
    NonRegularFiles& operator=(const NonRegularFiles&) = delete;
    ~NonRegularFiles();

    const std::string& fifo() const { return fifo_; }
    const std::string& socket() const { return socket_; }

private:
    std::string fifo_;
    std::string socket_;
    int socketFd_;
};
