#pragma once

#include <fstream>
#include <regex>
#include <string>
#include <vector>

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
    const std::regex writes(R"((O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|^\d+ +(creat|mkdir|mkdirat|unlink|unlinkat|rename|renameat2?|truncate|link|symlink|chmod)\())");
    std::ifstream trace(traceLog);
    FileWrites found;
    for (std::string line; std::getline(trace, line); ++found.lines) {
        if (!std::regex_search(line, writes) || line.find(" = -1 ") != std::string::npos)
            continue;
        if (line.find("\"/dev/null\"") != std::string::npos)
            continue;
        found.offending.push_back(line);
    }
    return found;
}
