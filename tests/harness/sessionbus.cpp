#include "harness/sessionbus.h"

#include <stdexcept>

#include <poll.h>
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
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        address_ += c;
    close(fds[0]);
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
    const TempDir dir;
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = {environment()};
    options.stdoutPath = dir.file("out.txt");
    options.stderrPath = dir.file("err.txt");
    ChildProcess client(program, options);
    Output output;
    output.status = client.waitForExit(timeout);
    output.out = readFile(options.stdoutPath);
    output.err = readFile(options.stderrPath);
    return output;
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
