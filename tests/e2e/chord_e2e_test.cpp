// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <iostream>

#include <gtest/gtest.h>

#include "harness/desktop.h"
#include "platform/fakeportal.h"
#include "support/wait.h"

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
        const auto pressed = now();
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

// A desktop whose portal binds the shortcuts, given to the player as its
// session bus; the player on a Wayland session whose input devices it cannot
// read, its window on the X display where the drag can be made.
struct ShortcutsPortal {
    const TempDir config;
    const SessionBus bus{bareBusConfig(config)};
    FakePortal portal{bus, {}};

    PlayerLaunch launch() const
    {
        PlayerLaunch launch;
        launch.environment = {bus.environment(), {"WAYLAND_DISPLAY", "wayland-test-none"}, {"QT_QPA_PLATFORM", "xcb"}};
        return launch;
    }
};

class DesktopShortcuts : public ShortcutsPortal, public DesktopDrop {
protected:
    DesktopShortcuts() : DesktopDrop(launch()) {}

    // How long after `from` the sound turned silent (or sounding), within
    // `timeout`; the portal answers meanwhile.
    std::optional<std::chrono::milliseconds> soundAfter(bool silent, std::chrono::steady_clock::time_point from,
                                                        std::chrono::milliseconds timeout = 1s)
    {
        if (!waitUntil([&] { return newestSoundSilent() == silent; }, timeout))
            return std::nullopt;
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from);
    }
};

TEST_F(DesktopShortcuts, AHeldShortcutTogglesAtEachTickAndATapStopsOnce)
{
    ASSERT_TRUE(waitUntil(
        [&] { return std::find(portal.calls.begin(), portal.calls.end(), "CreateSession") != portal.calls.end()
                     && portal.bound.size() == 2; },
        10s))
        << readFile(log);
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.5)) << readFile(log);

    // Held, "Play, pause or resume" pauses at a tick and resumes at the next.
    const auto pressed = std::chrono::steady_clock::now();
    portal.activate(QStringLiteral("play-pause"));
    const auto paused = soundAfter(true, pressed);
    ASSERT_TRUE(paused.has_value());
    const auto silenced = std::chrono::steady_clock::now();
    const auto resumed = soundAfter(false, silenced);
    portal.deactivate(QStringLiteral("play-pause"));
    ASSERT_TRUE(resumed.has_value());
    std::cout << "held shortcut to silence: " << paused->count() << " ms, to sound again: " << resumed->count()
              << " ms\n";
    EXPECT_LE(*paused, chordBound);
    EXPECT_LE(*resumed, chordBound);
    // Let go, it acts no more: two ticks go by.
    EXPECT_FALSE(soundAfter(true, std::chrono::steady_clock::now(), 450ms).has_value());

    // Tapped between two ticks, "Stop" stops once.
    const auto tapped = std::chrono::steady_clock::now();
    portal.activate(QStringLiteral("stop"));
    portal.deactivate(QStringLiteral("stop"));
    const auto stopped = soundAfter(true, tapped);
    ASSERT_TRUE(stopped.has_value());
    std::cout << "tapped shortcut to silence: " << stopped->count() << " ms\n";
    EXPECT_LE(*stopped, chordBound);
    EXPECT_EQ(readFile(log).find("the Caps Lock chords"), std::string::npos) << readFile(log);
}

} // namespace
