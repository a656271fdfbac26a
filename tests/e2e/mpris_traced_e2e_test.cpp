// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "filewrites.h"
#include "mediacontrols.h"

namespace {

// The player on the bus, traced from its start by strace.
class TracedMediaControls : public MediaControls {
protected:
    TracedMediaControls() : MediaControls(tracedLaunch(traceLog())) {}

    static std::string traceLog() { return artifact("strace-mpris.log"); }
};

TEST_F(TracedMediaControls, DrivenFromTheBusItWritesNoFileAndQuitsWhenAsked)
{
    ASSERT_TRUE(waitForPlayers(1)) << readFile(log);
    dragOntoLabel("id3v2.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);
    EXPECT_EQ(playerctl({"metadata", "xesam:title"}), "Test tone");
    playerctl({"play-pause"});
    EXPECT_EQ(playerctl({"status"}), "Paused");
    EXPECT_TRUE(call("org.mpris.MediaPlayer2.Raise"));

    // Quit closes the window, which ends the program as its close button does.
    EXPECT_TRUE(call("org.mpris.MediaPlayer2.Quit"));
    ASSERT_EQ(merlow->waitForExit(5s), 0);
    EXPECT_TRUE(waitForPlayers(0));

    const FileWrites written = fileWrites(traceLog());
    EXPECT_GT(written.lines, 100) << "the trace is missing";
    EXPECT_TRUE(written.offending.empty()) << written.offending.front();
}

} // namespace
