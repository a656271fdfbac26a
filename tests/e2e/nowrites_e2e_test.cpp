// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "harness/desktop.h"
#include "filewrites.h"

namespace {

// The player traced from its start by strace, every file operation logged.
class TracedDesktopDrop : public DesktopDrop {
protected:
    TracedDesktopDrop() : DesktopDrop(PlayerLaunch{MERLOW_BINARY, tracedLaunch(traceLog()), {}}) {}

    static std::string traceLog() { return artifact("strace.log"); }
};

TEST_F(TracedDesktopDrop, ASessionOfDropsAndPlaybackWritesNoFileAndRunsNoOtherProgram)
{
    dragOntoLabel("cbr44_stereo.mp3");
    ASSERT_TRUE(waitForSound(0.5)) << readFile(log);
    dragOntoLabel("id3v2.mp3");
    ASSERT_TRUE(waitForSound(0.5));
    x11.requestClose(*player);
    ASSERT_EQ(merlow->waitForExit(5s), 0);

    const FileWrites written = fileWrites(traceLog());
    EXPECT_GT(written.lines, 100) << "the trace is missing";
    EXPECT_TRUE(written.offending.empty()) << written.offending.front();
    // No session bus here: none is launched for the display either.
    EXPECT_EQ(programsRun(traceLog()), (std::vector<std::string>{"/usr/bin/env", MERLOW_BINARY}));
}

} // namespace
