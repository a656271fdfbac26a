// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "remote.h"

// mpv driven through its JSON IPC socket (--input-ipc-server): a command a
// line; its replies and events are read and let go.
class MpvByIpc : public Remote {
public:
    // Connects once mpv has made the socket, waiting up to 10 s for it.
    explicit MpvByIpc(const std::string& socketPath);
    ~MpvByIpc() override;
    MpvByIpc(const MpvByIpc&) = delete;
    MpvByIpc& operator=(const MpvByIpc&) = delete;

    bool connected() const { return socket_ >= 0; }

    bool load(const std::string& file) override { return send({"loadfile", file, "replace"}); }
    bool pause() override { return send({"set", "pause", "yes"}); }
    bool resume() override { return send({"set", "pause", "no"}); }
    bool stop() override { return send({"stop"}); }

private:
    bool send(const std::vector<std::string>& command);
    void discardReplies() const;

    int socket_ = -1;
};
