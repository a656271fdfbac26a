// SPDX-License-Identifier: GPL-3.0-or-later
#include <fstream>

#include <gtest/gtest.h>

#include "mediacontrols.h"

namespace {

// How often `line` begins a line of `text`.
std::size_t linesStartingWith(const std::string& text, const std::string& line)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        count += at == 0 || text[at - 1] == '\n' ? 1 : 0;
    return count;
}

const std::string unavailable = "merlow: the desktop's media controls are unavailable: ";

class NoSessionBus : public DesktopDrop {
protected:
    NoSessionBus()
        : DesktopDrop(PlayerLaunch{MERLOW_BINARY, {}, {{"DBUS_SESSION_BUS_ADDRESS", ""}}})
    {
    }
};

TEST_F(NoSessionBus, ThePlayerSaysWhyOnceAndPlaysOn)
{
    dragOntoLabel("cbr44_stereo.mp3");
    ASSERT_TRUE(waitForSound(0.5)) << readFile(log);
    const std::string said = readFile(log);
    EXPECT_EQ(linesStartingWith(said, unavailable), 1U) << said;
    EXPECT_NE(said.find(unavailable + "no session bus"), std::string::npos) << said;
}

// A bus whose policy lets no one own the player's names.
struct RefusingSessionBus {
    const TempDir configDir;
    const SessionBus bus{bareBusConfig(configDir, R"(<deny own_prefix="org.mpris.MediaPlayer2.merlow"/>)")};
};

class NameRefused : public RefusingSessionBus, public DesktopDrop {
protected:
    NameRefused() : DesktopDrop(launchOnBus(bus)) {}
};

TEST_F(NameRefused, ThePlayerSaysWhyOnceAndPlaysOn)
{
    dragOntoLabel("cbr44_stereo.mp3");
    ASSERT_TRUE(waitForSound(0.5)) << readFile(log);
    const std::string said = readFile(log);
    EXPECT_EQ(linesStartingWith(said, unavailable), 1U) << said;
    EXPECT_NE(said.find("refused the name"), std::string::npos) << said;
    // Nor does it hold the object for a name it does not have.
    EXPECT_EQ(bus.run("/usr/bin/playerctl", {"--list-all"}).out, "");
}

} // namespace
