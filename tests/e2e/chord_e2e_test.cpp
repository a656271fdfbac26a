// SPDX-License-Identifier: GPL-3.0-or-later
#include <iostream>

#include <gtest/gtest.h>

#include "desktop.h"

namespace {

// The chord is seen at the next 200 ms tick, after xdotool has started and
// the X server has taken the keys; the pause or stop is heard within 30 ms,
// and recorded within 10 ms more.
constexpr auto chordBound = 200ms + 60ms + 30ms + 10ms;

TEST_F(DesktopDrop, CapsLockChordsDriveThePlayerWhileAnotherProgramHasTheFocus)
{
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.5)) << readFile(log);
    ASSERT_TRUE(xdotool.focus(*sourceWindow));
    ASSERT_NE(x11.focusedWindow(), *player);

    const auto chord = [&](const char* letter, bool silences) {
        const auto pressed = std::chrono::steady_clock::now();
        EXPECT_TRUE(xdotool.keyDown({"Caps_Lock", letter}));
        const auto took = timeUntilSilent(silences, pressed);
        // Let go before the next tick would act on the chord again.
        EXPECT_TRUE(xdotool.keyUp({"Caps_Lock", letter}));
        return took;
    };

    const auto paused = chord("a", true);
    ASSERT_TRUE(paused.has_value());
    std::cout << "Caps Lock+A to silence: " << paused->count() << " ms\n";
    EXPECT_LE(*paused, chordBound);

    const auto resumed = chord("a", false);
    ASSERT_TRUE(resumed.has_value());
    std::cout << "Caps Lock+A to sound again: " << resumed->count() << " ms\n";
    EXPECT_LE(*resumed, chordBound);

    const auto stopped = chord("s", true);
    ASSERT_TRUE(stopped.has_value());
    std::cout << "Caps Lock+S to silence: " << stopped->count() << " ms\n";
    EXPECT_LE(*stopped, chordBound);

    // Stopped: the bar is empty.
    const auto image = x11.grab(*player);
    int filled = 0;
    for (int x = 0; x < 393; ++x) {
        const std::uint32_t p = image.at(x, 72);
        filled += (p & 0xFF) > ((p >> 16) & 0xFF) + 60 ? 1 : 0;
    }
    EXPECT_EQ(filled, 0);
    EXPECT_TRUE(screenshot(display.name(), artifact("after-stop-chord.png")));
}

} // namespace
