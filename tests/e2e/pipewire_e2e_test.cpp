// SPDX-License-Identifier: GPL-3.0-or-later
#include <functional>
#include <iostream>

#include <gtest/gtest.h>

#include "harness/desktop.h"
#include "harness/pcm.h"
#include "harness/sinkinputs.h"

namespace {

// A click is heard within this, timed by the recording, the recorder's own
// delay at the click included.
constexpr auto heardBound = 30ms;

// The real program on a virtual display, playing through PipeWire as a
// Debian 12 desktop runs it, driven with the mouse as a user drives it.
class PipeWireDesktop : public DesktopDrop {
protected:
    PipeWireDesktop() : DesktopDrop(PlayerLaunch{}, DesktopServer::PipeWire) {}
};

// Timed in the plain build only: the instrumented one is slower than a
// listener's.
TEST_F(PipeWireDesktop, PlaysPausesAndStopsThroughPipeWireEachHeardWithin30Ms)
{
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);
    // The desktop's mixer sees the player's music, named after the file.
    const std::vector<SinkInputProperties> streams = sinkInputs(pipewire->clientEnvironment());
    ASSERT_EQ(streams.size(), 1U) << pipewire->describe();
    EXPECT_EQ(unlikePlayersMusic(streams[0], "cbr44_long.mp3"), "") << pipewire->describe();
    EXPECT_NEAR(newestTone(), 440.0, 2.0);

    const auto measure = [&](const char* what, const std::function<void()>& button, bool sound) {
        button();
        const auto took = timeUntilSilent(!sound, now());
        EXPECT_TRUE(took.has_value()) << what;
        if (took) {
            std::cout << what << " heard through PipeWire after " << took->count() << " ms\n";
            EXPECT_LE(*took, heardBound) << what;
        }
    };
    measure("pause", [&] { clickPause(); }, false);
    measure("play", [&] { clickPlay(); }, true);
    measure("stop", [&] { clickStop(); }, false);
    measure("play", [&] { clickPlay(); }, true);
}

TEST_F(PipeWireDesktop, SaysOnceThatTheServerDiedAndPlaysAgainAfterItsRestart)
{
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);

    // The server dies mid-play: said once, in one box.
    pipewire->killServer();
    const auto box = x11.findWindow("Merlow", 5s);
    ASSERT_TRUE(box.has_value()) << readFile(log);
    ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
    EXPECT_TRUE(x11.timeUntilGone(*box, 2s).has_value());
    EXPECT_FALSE(x11.findWindow("Merlow", 500ms).has_value());
    EXPECT_TRUE(merlow->running());

    // Back: play plays again.
    pipewire->restart();
    audio = std::make_unique<TestSink>(pipewire->clientEnvironment());
    clickPlay();
    EXPECT_TRUE(waitForSound(0.1)) << readFile(log) << pipewire->describe();
    EXPECT_TRUE(screenshot(display.name(), artifact("pipewire.png")));
}

} // namespace
