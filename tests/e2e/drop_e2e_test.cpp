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

// The player and a stand-in file manager side by side on a virtual display.
class DesktopDrop : public ::testing::Test {
protected:
    DesktopDrop() : log(artifact("drop-merlow-stderr.txt")), merlow(startPlayer(display, audio, log)), x11(display.name())
    {
    }

    // Drags `file` from the source window onto the middle of the label.
    void dragOntoLabel(const char* file)
    {
        ChildProcess::Options options;
        options.arguments = {testFile(file).toStdString()};
        options.environment = {{"DISPLAY", display.name()}};
        options.unset = {"QT_QPA_PLATFORM"};
        options.stdoutPath = dir.file("source-out.txt");
        source = std::make_unique<ChildProcess>(DRAGSOURCE_BINARY, options);

        player = x11.findWindow(playerCaption, 10s);
        const auto sourceWindow = x11.findWindow("drag source", 10s);
        ASSERT_TRUE(player && sourceWindow) << readFile(log);
        const auto at = x11.screenPosition(*player);
        const auto from = x11.screenPosition(*sourceWindow);
        ASSERT_TRUE(Pointer(display.name()).drag(from.x + 100, from.y + 50, at.x + 352, at.y + 20));
        dropped = std::chrono::steady_clock::now();
    }

    // Waits until `seconds` of sound have been played; returns where the sound began.
    std::optional<std::size_t> waitForSound(double seconds) const
    {
        std::optional<std::size_t> start;
        while (std::chrono::steady_clock::now() - dropped < 10s) {
            if (!start)
                start = firstSound(audio.read(cdRate, 2).channel(0));
            if (start && audio.framesWritten(2) >= *start + static_cast<std::size_t>(seconds * cdRate))
                return start;
            std::this_thread::sleep_for(1ms);
        }
        return std::nullopt;
    }

    std::string sourceSaid() const { return readFile(dir.file("source-out.txt")); }

    const VirtualDisplay display;
    const DiskAudio audio;
    const TempDir dir;
    const std::string log;
    std::unique_ptr<ChildProcess> merlow;
    X11Connection x11;
    std::unique_ptr<ChildProcess> source;
    std::optional<Window> player;
    std::chrono::steady_clock::time_point dropped;
};

TEST_F(DesktopDrop, AFileDraggedOntoTheLabelIsCopiedAndPlays)
{
    dragOntoLabel("cbr44_stereo.mp3");
    const auto sound = waitForSound(0.0);
    ASSERT_TRUE(sound.has_value()) << readFile(log);
    const auto firstAudio = std::chrono::steady_clock::now() - dropped;
    std::cout << "drop to first audio: " << std::chrono::duration<double, std::milli>(firstAudio).count() << " ms\n";
    EXPECT_LT(firstAudio, 500ms);

    ASSERT_TRUE(waitForSound(0.5));
    const auto pcm = audio.read(cdRate, 2).channel(0);
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *sound + 1000, cdRate / 4), 440.0, 1.0);
    // The source was told the file was copied, so it keeps it.
    EXPECT_EQ(sourceSaid(), "copy\n");
}

TEST_F(DesktopDrop, HalfwayThroughAFileTheBarIsHalfFilled)
{
    dragOntoLabel("cbr44_stereo.mp3");
    // The newest buffer written is still being heard, from its start when
    // written to its end one buffer later: aim at the middle of it.
    ASSERT_TRUE(waitForSound(2.0 + 2048.0 / cdRate)) << readFile(log);
    const X11Connection::Image image = x11.grab(*player);
    EXPECT_TRUE(screenshot(display.name(), artifact("halfway.png")));

    // Along the bar's middle row: the fill is the style's highlight (clearly
    // bluer than red), the rest of the groove is white.
    int filled = 0;
    int empty = 0;
    const int row = 64 + 17 / 2;
    for (int x = 0; x < 393; ++x) {
        const std::uint32_t p = image.at(x, row);
        filled += (p & 0xFF) > ((p >> 16) & 0xFF) + 60 ? 1 : 0;
        empty += p == 0xFFFFFF ? 1 : 0;
    }
    std::cout << "filled " << filled << " of " << filled + empty << " pixels of the groove\n";
    ASSERT_GT(filled + empty, 370);
    EXPECT_NEAR(static_cast<double>(filled) / (filled + empty), 0.5, 0.015);
}

} // namespace
