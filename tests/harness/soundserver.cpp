// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/soundserver.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/poll.h"

SoundServer::SoundServer(Clients clients) : clients_(clients), socket_(dir_.file("native"))
{
    std::filesystem::create_directories(dir_.file("run"));
    start();
}

SoundServer::~SoundServer()
{
    if (server_)
        server_->stop();
}

void SoundServer::start()
{
    std::filesystem::remove(socket_);
    ChildProcess::Options options;
    const std::string auth = clients_ == Clients::Anonymous ? " auth-anonymous=1" : " auth-cookie=" + cookie();
    options.arguments = {"-n", "--daemonize=no", "--exit-idle-time=-1", "--log-target=stderr",
                         "-L", "module-null-sink sink_name=null",
                         "-L", "module-native-protocol-unix socket=" + socket_ + auth};
    options.environment = {{"XDG_RUNTIME_DIR", dir_.file("run")}, {"HOME", dir_.path()}};
    options.unset = {"PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS"};
    options.stderrPath = dir_.file("pulseaudio.log");
    server_ = std::make_unique<ChildProcess>("/usr/bin/pulseaudio", options);

    // Ready once its socket is there.
    pollUntil([&] { return std::filesystem::exists(socket_) || !server_->running(); }, std::chrono::seconds(10),
              std::chrono::milliseconds(10));
    if (!std::filesystem::exists(socket_))
        throw std::runtime_error("pulseaudio did not start: " + readFile(dir_.file("pulseaudio.log")));
}

void SoundServer::openToAllUsers() const
{
    using std::filesystem::perms;
    std::filesystem::permissions(dir_.path(), perms::owner_all | perms::group_exec | perms::others_exec);
}

void SoundServer::kill()
{
    server_->stop(std::chrono::milliseconds(0));
    server_.reset();
}

std::vector<std::pair<std::string, std::string>> SoundServer::clientEnvironment() const
{
    return {{"PULSE_SERVER", "unix:" + socket_}};
}

void SoundServer::useInThisProcess() const
{
    for (const auto& [name, value] : clientEnvironment())
        setenv(name.c_str(), value.c_str(), 1);
}

SoundServer::Recording::Recording(const std::vector<std::pair<std::string, std::string>>& clientEnvironment,
                                  std::string path, int latencyMs, const std::string& sink)
    : path_(std::move(path))
{
    ChildProcess::Options options;
    options.arguments = {"-d", sink + ".monitor", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                         "--latency-msec=" + std::to_string(latencyMs)};
    options.environment = clientEnvironment;
    options.stdoutPath = path_;
    parec_ = std::make_unique<ChildProcess>("/usr/bin/parec", options);
    // Recording once the first data arrives.
    pollUntil([&] { return framesRecorded() > 0; }, std::chrono::seconds(10), std::chrono::milliseconds(2));
}

std::size_t SoundServer::Recording::framesRecorded() const
{
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path_, error);
    return error ? 0 : static_cast<std::size_t>(bytes) / 4;
}
