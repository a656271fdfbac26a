// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpvbyipc.h"

#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::string jsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

MpvByIpc::MpvByIpc(const std::string& socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (socket_ < 0)
            return;
        if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            fcntl(socket_, F_SETFL, fcntl(socket_, F_GETFL) | O_NONBLOCK);
            return;
        }
        ::close(socket_);
        socket_ = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

MpvByIpc::~MpvByIpc()
{
    if (socket_ >= 0)
        ::close(socket_);
}

bool MpvByIpc::send(const std::vector<std::string>& command)
{
    if (socket_ < 0)
        return false;
    discardReplies();
    std::string line = "{\"command\":[";
    for (std::size_t i = 0; i < command.size(); ++i)
        line += (i > 0 ? "," : "") + jsonString(command[i]);
    line += "]}\n";
    // Short enough to go in one write on a socket with room for it.
    return ::send(socket_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

void MpvByIpc::discardReplies() const
{
    char buffer[4096];
    while (::recv(socket_, buffer, sizeof buffer, 0) > 0) {
    }
}
