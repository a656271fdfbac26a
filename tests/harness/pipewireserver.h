// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "harness/process.h"
#include "harness/tempdir.h"

// PipeWire as a Debian 12 desktop runs it: the server, its session manager
// and its PulseAudio service, on a session bus of their own, in a runtime
// folder of their own, with a null sink to play into. Each is stopped by its
// PID.
class PipeWireServer {
public:
    PipeWireServer();
    ~PipeWireServer();
    PipeWireServer(const PipeWireServer&) = delete;
    PipeWireServer& operator=(const PipeWireServer&) = delete;

    // What a client of its PulseAudio service needs.
    std::vector<std::pair<std::string, std::string>> clientEnvironment() const;
    // What a desktop's client finds it by, PipeWire's own or its PulseAudio
    // service: the runtime folder alone, with no server named.
    std::vector<std::pair<std::string, std::string>> desktopEnvironment() const { return {{"XDG_RUNTIME_DIR", runtime_}}; }

    // Ends the PipeWire server at once, as a crash would; its session manager
    // and PulseAudio service go with it. restart() brings them all back.
    void killServer();
    void restart();

    // Its sinks and the streams playing into them, as pactl lists them: what
    // a failed test shows.
    std::string describe() const;

private:
    void start();
    void stopAll();
    std::unique_ptr<ChildProcess> daemon(const std::string& path, const std::vector<std::string>& arguments,
                                         const std::string& log) const;
    std::vector<std::pair<std::string, std::string>> environment() const;

    TempDir dir_;
    std::string runtime_;
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> sessionManager_;
    std::unique_ptr<ChildProcess> pulseService_;
};
