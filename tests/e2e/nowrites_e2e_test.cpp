#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "desktop.h"

namespace {

// The player traced from its start by strace, every file operation logged.
class TracedDesktopDrop : public DesktopDrop {
protected:
    // A leak check cannot run under a tracer, so a sanitizer build skips it.
    TracedDesktopDrop()
        : DesktopDrop({"/usr/bin/strace", "-f", "-qq", "-e", "trace=%file", "-o", traceLog(), "/usr/bin/env",
                       "ASAN_OPTIONS=detect_leaks=0"})
    {
    }

    static std::string traceLog() { return artifact("strace.log"); }
};

TEST_F(TracedDesktopDrop, ASessionOfDropsAndPlaybackWritesNoFile)
{
    dragOntoLabel("cbr44_stereo.mp3");
    ASSERT_TRUE(waitForSound(0.5)) << readFile(log);
    dragOntoLabel("id3v2.mp3");
    ASSERT_TRUE(waitForSound(0.5));
    x11.requestClose(*player);
    ASSERT_EQ(merlow->waitForExit(5s), 0);

    // Anything that opens for writing or changes the file system, but for
    // /dev/null.
    const std::regex writes(R"((O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|^\d+ +(creat|mkdir|mkdirat|unlink|unlinkat|rename|renameat2?|truncate|link|symlink|chmod)\())");
    std::ifstream trace(traceLog());
    std::vector<std::string> offending;
    int lines = 0;
    for (std::string line; std::getline(trace, line); ++lines) {
        if (!std::regex_search(line, writes) || line.find(" = -1 ") != std::string::npos)
            continue;
        if (line.find("\"/dev/null\"") != std::string::npos)
            continue;
        offending.push_back(line);
    }
    EXPECT_GT(lines, 100) << "the trace is missing";
    EXPECT_TRUE(offending.empty()) << offending.front();
}

} // namespace
