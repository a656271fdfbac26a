// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harness/process.h"
#include "harness/tempdir.h"

// A private D-Bus session bus: a dbus-daemon of its own, stopped by its PID
// when the object goes, and the clients run against it.
class SessionBus {
public:
    // With the session bus's usual configuration, or the file given.
    explicit SessionBus(const std::string& configFile = {});
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;
    ~SessionBus();

    // As DBUS_SESSION_BUS_ADDRESS takes it.
    const std::string& address() const { return address_; }
    std::pair<std::string, std::string> environment() const { return {"DBUS_SESSION_BUS_ADDRESS", address_}; }

    using Output = ProgramOutput;
    // Runs a client on this bus to its end.
    Output run(const std::string& program, const std::vector<std::string>& arguments,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Starts a client on this bus that runs until stopped, its output to `stdoutPath`.
    std::unique_ptr<ChildProcess> start(const std::string& program, const std::vector<std::string>& arguments,
                                        const std::string& stdoutPath) const;

private:
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
    TempDir dir_;
};

// Writes into `dir` the configuration of a session bus that starts no service
// of this machine's, such as its real portal: only what the test puts on it
// answers. `extraPolicy` goes at the end of its default policy (a <deny/>,
// say). Returns the file's path.
std::string bareBusConfig(const TempDir& dir, const std::string& extraPolicy = {});
