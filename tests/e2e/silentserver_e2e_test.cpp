// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "harness/labeldrag.h"
#include "harness/player.h"
#include "harness/silentserver.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"
#include "support/testdata.h"

using namespace std::chrono_literals;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The real program on a virtual display, its sound server one that accepted
// the connection and never answers, ALSA as the system configures it, and
// no sound card: its log on, to read the reason it gives.
class SilentServerDesktop : public ::testing::Test {
protected:
    SilentServerDesktop()
        : log(artifact(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())
                       + "-merlow-stderr.txt")),
          merlow(startPlayer(display, server.clientEnvironment(), log, loggedLaunch())), x11(display.name())
    {
    }

    static PlayerLaunch loggedLaunch()
    {
        PlayerLaunch launch;
        launch.environment = {{"QT_LOGGING_RULES", "merlow.*.debug=true"}};
        return launch;
    }

    // Closes the window as a window manager's close button does; the seconds
    // until the program has ended.
    double secondsToExit()
    {
        x11.requestClose(*player);
        const auto closing = std::chrono::steady_clock::now();
        EXPECT_EQ(merlow->waitForExit(5s), 0) << readFile(log);
        const double took = secondsSince(closing);
        std::cout << "close to exit: " << took * 1000 << " ms\n";
        return took;
    }

    const SilentServer server;
    const VirtualDisplay display;
    const TempDir dir;
    const std::string log;
    std::unique_ptr<ChildProcess> merlow;
    X11Connection x11;
    const Xdotool xdotool{display.name()};
    std::optional<Window> player;
};

TEST_F(SilentServerDesktop, ClosesWithinASecondWhileItsFirstConnectionWaits)
{
    player = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(player) << describePlayer(*merlow, log);
    EXPECT_LT(secondsToExit(), 1.0);
}

// A valid file dragged onto the label: its box comes up within 3 s, for the
// server that does not answer; closed 3 s after the drop, the program ends
// within a second.
TEST_F(SilentServerDesktop, ADropIsRefusedWithinThreeSecondsAndTheWindowClosesWithinASecondAfter)
{
    player = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(player) << describePlayer(*merlow, log);
    LabelDrag drag = dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11, xdotool, *player,
                                   {testFile("cbr44_stereo.mp3").toStdString()}, dir.file("source-out.txt"));
    ASSERT_TRUE(drag.dragged);
    const auto dropped = std::chrono::steady_clock::now();
    const auto box = x11.findWindow("Merlow", 5s);
    ASSERT_TRUE(box.has_value()) << readFile(log);
    std::cout << "drop to box: " << secondsSince(dropped) * 1000 << " ms\n";
    EXPECT_LT(secondsSince(dropped), 3.0);
    const std::string reason = "failed: cannot open audio output: no sound server (the sound server does not answer)";
    EXPECT_NE(readFile(log).find(reason), std::string::npos) << readFile(log);

    ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
    std::this_thread::sleep_until(dropped + 3s); // the moment closed at
    EXPECT_LT(secondsToExit(), 1.0);
}

// A file dropped while the program's first connection waits, its failure's
// box up, and the main window closed by the window manager while the box
// still blocks it: the program ends within a second.
TEST_F(SilentServerDesktop, AClosedWindowEndsTheProgramWithinASecondWhileTheFailuresBoxIsUp)
{
    player = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(player) << describePlayer(*merlow, log);
    LabelDrag drag = dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11, xdotool, *player,
                                   {testFile("cbr44_stereo.mp3").toStdString()}, dir.file("source-out.txt"));
    ASSERT_TRUE(drag.dragged);
    ASSERT_TRUE(x11.findWindow("Merlow", 5s).has_value()) << readFile(log);
    EXPECT_LT(secondsToExit(), 1.0);
}

} // namespace
