// SPDX-License-Identifier: GPL-3.0-or-later
#include <iostream>

#include <gtest/gtest.h>

#include "harness/desktop.h"

using namespace std::chrono_literals;

namespace {

TEST_F(DesktopDrop, AFileDraggedOntoTheLabelIsCopiedAndPlays)
{
    dragOntoLabel("cbr44_stereo.mp3");
    const auto sound = waitForSound(0.0);
    ASSERT_TRUE(sound.has_value()) << readFile(log);
    const auto firstAudio = std::chrono::steady_clock::now() - dropped;
    std::cout << "drop to first audio: " << std::chrono::duration<double, std::milli>(firstAudio).count() << " ms\n";
    EXPECT_LT(firstAudio, 500ms);

    ASSERT_TRUE(waitForSound(0.5));
    const auto pcm = audio->read().channel(0);
    EXPECT_NEAR(toneFrequency(pcm, cdRate, *sound + 1000, cdRate / 4), 440.0, 1.0);
    // The source was told the file was copied, so it keeps it.
    EXPECT_EQ(sourceSaid(), "copy\n");
}

TEST_F(DesktopDrop, HalfwayThroughAFileTheBarIsHalfFilled)
{
    dragOntoLabel("cbr44_stereo.mp3");
    // Two seconds recorded from the sink, the recorder's own delay aside.
    ASSERT_TRUE(waitForSound(2.0)) << readFile(log);
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
