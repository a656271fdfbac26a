#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "harness/player.h"
#include "harness/pointer.h"
#include "harness/x11window.h"
#include "support/testdata.h"

using namespace std::chrono_literals;

namespace {

constexpr int cdRate = 44100;

TEST(DropFromAnotherProgram, AFileDraggedOntoTheLabelIsCopiedAndPlays)
{
    const VirtualDisplay display;
    const DiskAudio audio;
    const std::string log = artifact("drop-merlow-stderr.txt");
    const auto merlow = startPlayer(display, audio, log);
    ChildProcess::Options sourceOptions;
    sourceOptions.arguments = {testFile("cbr44_stereo.mp3").toStdString()};
    sourceOptions.environment = {{"DISPLAY", display.name()}};
    sourceOptions.unset = {"QT_QPA_PLATFORM"};
    const TempDir dir;
    sourceOptions.stdoutPath = dir.file("source-out.txt");
    ChildProcess source(DRAGSOURCE_BINARY, sourceOptions);

    X11Connection x11(display.name());
    const auto player = x11.findWindow(playerCaption, 10s);
    const auto sourceWindow = x11.findWindow("drag source", 10s);
    ASSERT_TRUE(player && sourceWindow) << readFile(log);
    const auto at = x11.screenPosition(*player);
    const auto from = x11.screenPosition(*sourceWindow);

    // Onto the middle of the label.
    const Pointer pointer(display.name());
    ASSERT_TRUE(pointer.drag(from.x + 100, from.y + 50, at.x + 352, at.y + 20));
    const auto dropped = std::chrono::steady_clock::now();

    // The tone comes out of the sound device.
    std::optional<std::size_t> sound;
    while (!sound && std::chrono::steady_clock::now() - dropped < 5s)
        sound = firstSound(audio.read(cdRate, 2).channel(0));
    ASSERT_TRUE(sound.has_value()) << readFile(log);
    const auto firstAudio = std::chrono::steady_clock::now();
    std::cout << "drop to first audio: "
              << std::chrono::duration<double, std::milli>(firstAudio - dropped).count() << " ms\n";
    EXPECT_LT(firstAudio - dropped, 500ms);

    while (audio.framesWritten(2) < *sound + cdRate / 2 && std::chrono::steady_clock::now() - dropped < 5s)
        std::this_thread::sleep_for(10ms);
    const auto pcm = audio.read(cdRate, 2).channel(0);
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *sound + 1000, cdRate / 4), 440.0, 1.0);
    EXPECT_TRUE(screenshot(display.name(), artifact("after-drop.png")));

    // The source was told the file was copied, so it keeps it.
    EXPECT_EQ(readFile(sourceOptions.stdoutPath), "copy\n");
}

} // namespace
