// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "harness/desktop.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The real program on a virtual display, its sound server one that accepted
// the connection and never answers, ALSA as the system configures it, and
// no sound card: its log on, to read the reason it gives.
class SilentServerDesktop : public DesktopDrop {
protected:
    SilentServerDesktop() : DesktopDrop(loggedLaunch(), DesktopServer::Wedged) {}

    static PlayerLaunch loggedLaunch()
    {
        PlayerLaunch launch;
        launch.environment = {{"QT_LOGGING_RULES", "merlow.*.debug=true"}};
        return launch;
    }
};

TEST_F(SilentServerDesktop, ClosesWithinASecondWhileItsFirstConnectionWaits)
{
    player = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(player) << describePlayer(*merlow, log);
    EXPECT_LT(closeToExit(), 1s);
}

// A valid file dragged onto the label: its box comes up within 3 s, for the
// server that does not answer; closed 3 s after the drop, the program ends
// within a second.
TEST_F(SilentServerDesktop, ADropIsRefusedWithinThreeSecondsAndTheWindowClosesWithinASecondAfter)
{
    dragOntoLabel("cbr44_stereo.mp3");
    const auto box = x11.findWindow("Merlow", 5s);
    ASSERT_TRUE(box.has_value()) << readFile(log);
    std::cout << "drop to box: " << secondsSince(dropped) * 1000 << " ms\n";
    EXPECT_LT(secondsSince(dropped), 3.0);
    const std::string reason = "failed: cannot open audio output: no sound server (the sound server does not answer)";
    EXPECT_NE(readFile(log).find(reason), std::string::npos) << readFile(log);

    ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
    std::this_thread::sleep_until(dropped + 3s); // the moment closed at
    EXPECT_LT(closeToExit(), 1s);
}

// A file dropped while the program's first connection waits, its failure's
// box up, and the main window closed by the window manager while the box
// still blocks it: the program ends within a second.
TEST_F(SilentServerDesktop, AClosedWindowEndsTheProgramWithinASecondWhileTheFailuresBoxIsUp)
{
    dragOntoLabel("cbr44_stereo.mp3");
    ASSERT_TRUE(x11.findWindow("Merlow", 5s).has_value()) << readFile(log);
    EXPECT_LT(closeToExit(), 1s);
}

} // namespace
