// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include <QRegularExpression>

// The traced program under strace, every file operation logged to `traceLog`;
// a leak check cannot run under a tracer, so a sanitizer build skips it.
inline std::vector<std::string> tracedLaunch(const std::string& traceLog)
{
    return {"/usr/bin/strace", "-f", "-qq", "-e", "trace=%file", "-o", traceLog, "/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0"};
}

struct FileWrites {
    int lines = 0;
    // Each call that opened a file for writing or changed the file system.
    std::vector<std::string> offending;
};

// What the trace shows written, but for /dev/null.
inline FileWrites fileWrites(const std::string& traceLog)
{
    const QRegularExpression writes(QStringLiteral(R"((O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|^\d+ +(creat|mkdir|mkdirat|unlink|unlinkat|rename|renameat2?|truncate|link|symlink|chmod)\())"));
    std::ifstream trace(traceLog);
    FileWrites found;
    for (std::string line; std::getline(trace, line); ++found.lines) {
        if (!writes.match(QString::fromStdString(line)).hasMatch() || line.find(" = -1 ") != std::string::npos)
            continue;
        if (line.find("\"/dev/null\"") != std::string::npos)
            continue;
        found.offending.push_back(line);
    }
    return found;
}

// The programs the trace shows run, in order, each by the path it was run
// by, whether or not it could be.
inline std::vector<std::string> programsRun(const std::string& traceLog)
{
    const QRegularExpression execve(QStringLiteral(R"re(^\d+ +execve\("([^"]*)")re"));
    std::ifstream trace(traceLog);
    std::vector<std::string> programs;
    for (std::string line; std::getline(trace, line);) {
        const QRegularExpressionMatch run = execve.match(QString::fromStdString(line));
        if (run.hasMatch())
            programs.push_back(run.captured(1).toStdString());
    }
    return programs;
}
