// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/process.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/tempdir.h"
#include "support/poll.h"

namespace {

std::vector<std::string> buildEnvironment(const ChildProcess::Options& options)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        const auto named = [&](const auto& n) { return n == name; };
        const bool overridden = std::any_of(options.environment.begin(), options.environment.end(),
                                            [&](const auto& kv) { return named(kv.first); });
        if (!overridden && std::none_of(options.unset.begin(), options.unset.end(), named))
            env.push_back(entry);
    }
    for (const auto& [name, value] : options.environment)
        env.push_back(name + '=' + value); // NOLINT(performance-inefficient-string-concatenation)
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

ChildProcess::ChildProcess(const std::string& path, const Options& options)
{
    std::vector<std::string> args{path};
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
    std::vector<std::string> env = buildEnvironment(options);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int out = ::open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess()
{
    if (running()) {
        kill(pid_, SIGKILL);
        reap(0);
    }
}

bool ChildProcess::reap(int options)
{
    if (status_)
        return true;
    int status = 0;
    if (waitpid(pid_, &status, options) != pid_)
        return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool ChildProcess::running()
{
    return !reap(WNOHANG);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (!pollUntil([&] { return reap(WNOHANG); }, timeout, std::chrono::milliseconds(2)))
        return std::nullopt;
    return status_;
}

void ChildProcess::stop(std::chrono::milliseconds grace)
{
    if (!running())
        return;
    kill(pid_, SIGTERM);
    if (!waitForExit(grace)) {
        kill(pid_, SIGKILL);
        reap(0);
    }
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ProgramOutput runToEnd(const std::string& path, ChildProcess::Options options, std::chrono::milliseconds timeout)
{
    const TempDir dir;
    options.stdoutPath = dir.file("out.txt");
    options.stderrPath = dir.file("err.txt");
    ChildProcess program(path, options);
    ProgramOutput output;
    output.status = program.waitForExit(timeout);
    output.out = readFile(options.stdoutPath);
    output.err = readFile(options.stderrPath);
    return output;
}

std::string readFirstLine(int fd, std::chrono::milliseconds timeout)
{
    std::string line;
    pollfd ready{fd, POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, static_cast<int>(timeout.count())) == 1 && read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    close(fd);
    return line;
}
