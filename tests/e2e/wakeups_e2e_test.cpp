// SPDX-License-Identifier: GPL-3.0-or-later
#include <iostream>

#include <gtest/gtest.h>

#include "harness/desktop.h"
#include "harness/threadwakeups.h"

namespace {

// The window's thread wakes five times a second for the chords' timer; the
// rest is room for a loaded machine. A progress timer ticking would be 100.
constexpr double wakeupBound = 20.0;
// The length of cbr44_long.mp3, and a bar's fill off by 0.15 s of it.
constexpr double fileSeconds = 10.0;
constexpr double fillTolerance = 0.015;

class QuietDesktop : public DesktopDrop {
protected:
    // How often a second the window's thread, the process's first, wakes
    // over the next `stretch`.
    double windowWakeupsPerSecond(std::chrono::milliseconds stretch) const
    {
        const pid_t pid = merlow->pid();
        const std::uint64_t before = contextSwitchesOf(pid, pid);
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(stretch);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return static_cast<double>(contextSwitchesOf(pid, pid) - before) / seconds;
    }

    // The filled share of the bar's groove along its middle row, as drawn.
    double barFill()
    {
        const X11Connection::Image image = x11.grab(*player);
        int filled = 0;
        int empty = 0;
        for (int x = 0; x < 393 && !image.pixels.empty(); ++x) {
            const std::uint32_t p = image.at(x, 72);
            filled += (p & 0xFF) > ((p >> 16) & 0xFF) + 60 ? 1 : 0;
            empty += p == 0xFFFFFF ? 1 : 0;
        }
        return filled + empty > 370 ? static_cast<double>(filled) / (filled + empty) : -1.0;
    }

    // Whether the bar comes to show `position()` within a few frames' time.
    bool barShows(const std::function<double()>& position)
    {
        const auto start = std::chrono::steady_clock::now();
        double fill = -1.0;
        while (std::chrono::steady_clock::now() - start < 100ms) {
            fill = barFill();
            if (std::abs(fill - position() / fileSeconds) < fillTolerance)
                return true;
        }
        std::cout << "the bar is filled " << fill << " for " << position() << " s\n";
        return false;
    }

    // The frame where sound begins again after `from`, within a second.
    std::optional<std::size_t> soundAfter(std::size_t from) const
    {
        std::optional<std::size_t> sound;
        pollUntil([&] { return (sound = firstSound(audio->read(from).channel(0))).has_value(); }, 1s);
        return sound ? std::optional(from + *sound) : std::nullopt;
    }
};

TEST_F(QuietDesktop, PausedOrUnmappedTheWindowSleepsAndItsBarIsRightOnceSeenAgain)
{
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(1.0)) << readFile(log);

    clickPause();
    ASSERT_TRUE(timeUntilSilent(true, now()));
    const double paused = windowWakeupsPerSecond(2s);
    std::cout << "paused, the window's thread wakes " << paused << " times a second\n";
    EXPECT_LT(paused, wakeupBound);
    const double pausedAt = barFill() * fileSeconds;
    EXPECT_GT(pausedAt, 0.9);

    const std::size_t resumedFrom = audio->framesRecorded();
    clickPlay();
    const auto resumed = soundAfter(resumedFrom);
    ASSERT_TRUE(resumed);
    const auto position = [&] {
        return pausedAt + static_cast<double>(audio->framesRecorded() - *resumed) / cdRate;
    };
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(barShows(position));

    ASSERT_TRUE(xdotool.unmap(*player));
    const double unmapped = windowWakeupsPerSecond(1500ms);
    std::cout << "playing unmapped, the window's thread wakes " << unmapped << " times a second\n";
    EXPECT_LT(unmapped, wakeupBound);
    ASSERT_TRUE(xdotool.map(*player));
    EXPECT_TRUE(barShows(position));
}

} // namespace
