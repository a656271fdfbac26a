// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/pipewireserver.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "harness/pactl.h"
#include "support/poll.h"

namespace {

bool waitFor(const std::string& path, ChildProcess& owner)
{
    pollUntil([&] { return std::filesystem::exists(path) || !owner.running(); }, std::chrono::seconds(10),
              std::chrono::milliseconds(10));
    return std::filesystem::exists(path);
}

// What a tool printed, once it has run and succeeded within 5 s.
std::optional<std::string> run(const std::string& program, const std::vector<std::string>& arguments,
                               const std::vector<std::pair<std::string, std::string>>& environment)
{
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = environment;
    ProgramOutput output = runToEnd(program, options, std::chrono::seconds(5));
    if (output.status != 0)
        return std::nullopt;
    return std::move(output.out);
}

} // namespace

PipeWireServer::PipeWireServer() : runtime_(dir_.file("run"))
{
    std::filesystem::create_directories(runtime_);
    std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
    bus_ = daemon("/usr/bin/dbus-daemon",
                  {"--session", "--nofork", "--nopidfile", "--address=unix:path=" + dir_.file("bus")}, "dbus.log");
    if (!waitFor(dir_.file("bus"), *bus_))
        throw std::runtime_error("dbus-daemon did not start: " + readFile(dir_.file("dbus.log")));
    start();
}

PipeWireServer::~PipeWireServer()
{
    stopAll();
    if (bus_)
        bus_->stop();
}

std::vector<std::pair<std::string, std::string>> PipeWireServer::environment() const
{
    return {{"XDG_RUNTIME_DIR", runtime_},
            {"HOME", dir_.path()},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.file("bus")}};
}

std::unique_ptr<ChildProcess> PipeWireServer::daemon(const std::string& path, const std::vector<std::string>& arguments,
                                                     const std::string& log) const
{
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = environment();
    options.unset = {"PULSE_SERVER", "DISPLAY", "WAYLAND_DISPLAY"};
    options.stderrPath = dir_.file(log);
    options.stdoutPath = dir_.file(log + ".out");
    return std::make_unique<ChildProcess>(path, options);
}

std::vector<std::pair<std::string, std::string>> PipeWireServer::clientEnvironment() const
{
    return {{"PULSE_SERVER", "unix:" + runtime_ + "/pulse/native"}};
}

void PipeWireServer::start()
{
    std::filesystem::remove(runtime_ + "/pulse/native");
    server_ = daemon("/usr/bin/pipewire", {}, "pipewire.log");
    if (!waitFor(runtime_ + "/pipewire-0", *server_))
        throw std::runtime_error("pipewire did not start: " + readFile(dir_.file("pipewire.log")));
    sessionManager_ = daemon("/usr/bin/wireplumber", {}, "wireplumber.log");
    pulseService_ = daemon("/usr/bin/pipewire-pulse", {}, "pipewire-pulse.log");
    if (!waitFor(runtime_ + "/pulse/native", *pulseService_))
        throw std::runtime_error("pipewire-pulse did not start: " + readFile(dir_.file("pipewire-pulse.log")));

    // The sink, once the session manager lets it be made.
    const auto made = [&] {
        return pactl({"load-module", "module-null-sink", "sink_name=null"}, clientEnvironment()).has_value();
    };
    if (!pollUntil(made, std::chrono::seconds(10), std::chrono::milliseconds(50)))
        throw std::runtime_error("no null sink on pipewire-pulse");
    // Ready once the session manager has made it the default: a stream
    // made before then may be left linked to nothing.
    const auto isDefault = [&] {
        return run("/usr/bin/pw-metadata", {"-n", "default", "0", "default.audio.sink"}, environment())
                   .value_or("")
                   .find(R"({"name":"null"})")
               != std::string::npos;
    };
    if (!pollUntil(isDefault, std::chrono::seconds(10), std::chrono::milliseconds(20)))
        throw std::runtime_error("the session manager did not take up the null sink; its log:\n"
                                 + readFile(dir_.file("wireplumber.log")) + describe());
}

std::string PipeWireServer::describe() const
{
    std::string description;
    for (const char* what : {"sinks", "sink-inputs"})
        description += pactl({"list", what}, clientEnvironment()).value_or(std::string("no ") + what + "\n");
    return description;
}


void PipeWireServer::stopAll()
{
    for (auto* process : {&pulseService_, &sessionManager_, &server_}) {
        if (*process)
            (*process)->stop();
        process->reset();
    }
}

void PipeWireServer::killServer()
{
    server_->stop(std::chrono::milliseconds(0));
}

void PipeWireServer::restart()
{
    stopAll();
    start();
}
