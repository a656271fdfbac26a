// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/sessionbus.h"

#include <fstream>
#include <stdexcept>

#include <unistd.h>

SessionBus::SessionBus(const std::string& configFile)
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    ChildProcess::Options options;
    options.arguments = {configFile.empty() ? "--session" : "--config-file=" + configFile, "--nofork",
                         "--address=unix:dir=" + dir_.path(), "--print-address=" + std::to_string(fds[1])};
    daemon_ = std::make_unique<ChildProcess>("/usr/bin/dbus-daemon", options);
    close(fds[1]);

    // The daemon prints its address once it accepts connections.
    address_ = readFirstLine(fds[0], std::chrono::seconds(10));
    if (address_.empty())
        throw std::runtime_error("dbus-daemon did not start");
}

SessionBus::~SessionBus()
{
    daemon_->stop();
}

SessionBus::Output SessionBus::run(const std::string& program, const std::vector<std::string>& arguments,
                                   std::chrono::milliseconds timeout) const
{
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = {environment()};
    return runToEnd(program, options, timeout);
}

std::unique_ptr<ChildProcess> SessionBus::start(const std::string& program, const std::vector<std::string>& arguments,
                                                const std::string& stdoutPath) const
{
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = {environment()};
    options.stdoutPath = stdoutPath;
    return std::make_unique<ChildProcess>(program, options);
}

std::string bareBusConfig(const TempDir& dir, const std::string& extraPolicy)
{
    const std::string path = dir.file("bare.conf");
    std::ofstream(path) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
)" << extraPolicy << R"(
  </policy>
</busconfig>
)";
    return path;
}
