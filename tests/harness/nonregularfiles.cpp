// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/nonregularfiles.h"

#include <stdexcept>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

NonRegularFiles::NonRegularFiles(const TempDir& dir)
    : fifo_(dir.file("fifo.mp3")), socket_(dir.file("socket.mp3")), socketFd_(::socket(AF_UNIX, SOCK_STREAM, 0))
{
    if (mkfifo(fifo_.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket_.copy(address.sun_path, sizeof(address.sun_path) - 1);
    if (bind(socketFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        throw std::runtime_error("bind failed");
}

NonRegularFiles::~NonRegularFiles()
{
    close(socketFd_);
}
