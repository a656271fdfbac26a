// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "harness/process.h"
#include "harness/tempdir.h"

// A PulseAudio server of the test's own: no system daemon, a null sink, its
// own runtime folder and socket, stopped by its PID.
class SoundServer {
public:
    // Who it lets in: any client, or only one that has its cookie (or runs
    // as the same user).
    enum class Clients { Anonymous, WithCookie };

    explicit SoundServer(Clients clients = Clients::Anonymous);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // What a client needs to play through it.
    std::vector<std::pair<std::string, std::string>> clientEnvironment() const;
    void useInThisProcess() const;
    // The cookie a client of a server WithCookie needs, which it made.
    std::string cookie() const { return dir_.file("cookie"); }
    // Other users may reach its socket.
    void openToAllUsers() const;

    // Ends the server at once, as a crash would; start() brings it back on the
    // same socket.
    void kill();
    void start();
    pid_t pid() const { return server_->pid(); }

    // Records what the null sink plays, as 16-bit stereo at 44.1 kHz.
    class Recording {
    public:
        // A latency of 10 ms sees sound soon after it plays; a longer one
        // costs the server fewer wakeups.
        Recording(const SoundServer& server, std::string path, int latencyMs = 10)
            : Recording(server.clientEnvironment(), std::move(path), latencyMs)
        {
        }
        // The same from any server with a sink named "null", or the sink named.
        Recording(const std::vector<std::pair<std::string, std::string>>& clientEnvironment, std::string path,
                  int latencyMs = 10, const std::string& sink = "null");
        const std::string& path() const { return path_; }
        std::size_t framesRecorded() const;

    private:
        std::string path_;
        std::unique_ptr<ChildProcess> parec_;
    };

private:
    TempDir dir_;
    Clients clients_;
    std::string socket_;
    std::unique_ptr<ChildProcess> server_;
};
