// SPDX-License-Identifier: GPL-3.0-or-later
#include <functional>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "harness/labeldrag.h"
#include "harness/pcm.h"
#include "harness/pipewireserver.h"
#include "harness/player.h"
#include "harness/sinkinputs.h"
#include "harness/soundserver.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"
#include "support/testdata.h"
#include "support/poll.h"
#include "support/cdaudio.h"

using namespace std::chrono_literals;

namespace {

// A click is heard within this, the recorder's own delay included.
constexpr auto heardBound = 30ms + 20ms;

// The real program on a virtual display, playing through PipeWire as a
// Debian 12 desktop runs it, driven with the mouse as a user drives it.
class PipeWireDesktop : public ::testing::Test {
protected:
    PipeWireDesktop()
        : log(artifact("pipewire-merlow-stderr.txt")),
          merlow(startPlayer(display, pipewire.desktopEnvironment(), log)), x11(display.name())
    {
    }

    void click(int x, int y)
    {
        const auto at = x11.screenPosition(*player);
        ASSERT_TRUE(xdotool.moveTo(at.x + x, at.y + y));
        ASSERT_TRUE(xdotool.press());
        ASSERT_TRUE(xdotool.release());
    }
    // The buttons' middles, as the window lays them out.
    void clickPlay() { click(36, 16); }
    void clickPause() { click(116, 16); }
    void clickStop() { click(196, 16); }

    // Whether the newest 20 ms recorded hold sound.
    static bool sounding(const SoundServer::Recording& recording)
    {
        const std::size_t tail = cdRate / 50;
        const std::size_t recorded = recording.framesRecorded();
        const auto pcm = readPcm(recording.path(), cdRate, 2, recorded > tail ? recorded - tail : 0).channel(0);
        return firstSound(pcm).has_value();
    }

    // How long until the sink turns silent (or sounding); nothing within 2 s.
    static std::optional<std::chrono::milliseconds> timeUntil(bool sound, const SoundServer::Recording& recording)
    {
        return pollUntil([&] { return sounding(recording) == sound; }, 2s);
    }

    PipeWireServer pipewire;
    const VirtualDisplay display;
    const TempDir dir;
    const std::string log;
    std::unique_ptr<ChildProcess> merlow;
    X11Connection x11;
    const Xdotool xdotool{display.name()};
    std::unique_ptr<ChildProcess> source;
    std::optional<Window> player;
};

TEST_F(PipeWireDesktop, PlaysPausesAndStopsThroughPipeWireAndPlaysAgainAfterItsRestart)
{
    auto recording = std::make_unique<SoundServer::Recording>(pipewire.clientEnvironment(), dir.file("heard.raw"));
    player = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(player) << describePlayer(*merlow, log);
    LabelDrag drag = dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11, xdotool, *player,
                                   {testFile("cbr44_long.mp3").toStdString()}, dir.file("source-out.txt"));
    source = std::move(drag.source);
    ASSERT_TRUE(drag.dragged);
    ASSERT_TRUE(timeUntil(true, *recording).has_value()) << readFile(log);
    // The desktop's mixer sees the player's music, named after the file.
    const std::vector<SinkInputProperties> streams = sinkInputs(pipewire.clientEnvironment());
    ASSERT_EQ(streams.size(), 1U) << pipewire.describe();
    EXPECT_EQ(unlikePlayersMusic(streams[0], "cbr44_long.mp3"), "") << pipewire.describe();
    std::this_thread::sleep_for(300ms); // a stretch of tone to measure
    const std::size_t recorded = recording->framesRecorded();
    const auto pcm = readPcm(recording->path(), cdRate, 2, recorded - cdRate / 5).channel(0);
    EXPECT_NEAR(toneFrequency(pcm, cdRate, 0, pcm.size()), 440.0, 2.0);

    const auto measure = [&](const char* what, const std::function<void()>& button, bool sound) {
        button();
        const auto took = timeUntil(sound, *recording);
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

    // The server dies mid-play: said once, in one box.
    pipewire.killServer();
    const auto box = x11.findWindow("Merlow", 5s);
    ASSERT_TRUE(box.has_value()) << readFile(log);
    ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
    EXPECT_TRUE(x11.timeUntilGone(*box, 2s).has_value());
    EXPECT_FALSE(x11.findWindow("Merlow", 500ms).has_value());
    EXPECT_TRUE(merlow->running());

    // Back: play plays again.
    pipewire.restart();
    recording = std::make_unique<SoundServer::Recording>(pipewire.clientEnvironment(), dir.file("after.raw"));
    clickPlay();
    EXPECT_TRUE(timeUntil(true, *recording).has_value()) << readFile(log) << pipewire.describe();
    EXPECT_TRUE(screenshot(display.name(), artifact("pipewire.png")));
}

} // namespace
