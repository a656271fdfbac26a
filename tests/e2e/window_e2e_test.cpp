// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "harness/player.h"
#include "harness/x11window.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace {

// Pixels clearly darker than the window's light background: text (greyed
// text too) and edges.
int darkPixels(const X11Connection::Image& image, int left, int top, int width, int height)
{
    int dark = 0;
    for (int y = top; y < top + height; ++y) {
        for (int x = left; x < left + width; ++x) {
            dark += luminance(image.at(x, y)) < 200 ? 1 : 0;
        }
    }
    return dark;
}

TEST(WindowOnADesktop, ShowsItsCaptionAndLayoutAndClosesPromptly)
{
    const VirtualDisplay display;
    const TestSink audio;
    const std::string log = artifact("merlow-stderr.txt");
    const auto merlow = startPlayer(display, audio, log);

    X11Connection x11(display.name());
    const auto window = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(window.has_value()) << describePlayer(*merlow, log);
    EXPECT_EQ(x11.clientSize(*window).width, 394);
    EXPECT_EQ(x11.clientSize(*window).height, 82);

    // Wait for the first paint: the label's text appears.
    X11Connection::Image image;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    do {
        image = x11.grab(*window);
    } while ((image.pixels.empty() || darkPixels(image, 313, 1, 79, 39) < 20)
             && std::chrono::steady_clock::now() < deadline);
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(screenshot(display.name(), artifact("window.png")));

    // Each button and the label show their text; the path box and bar are
    // framed; nothing is drawn below the bar.
    for (const int left : {0, 80, 160, 240})
        EXPECT_GT(darkPixels(image, left + 10, 8, 53, 17), 10) << "button at " << left;
    EXPECT_GT(darkPixels(image, 313, 1, 79, 39), 20);

    x11.requestClose(*window);
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(merlow->waitForExit(2s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 1s);
}

// On Wayland, where the input devices cannot be read and no shortcuts
// portal answers, the chords fall back to XWayland's raw key events: the
// program says once why, what they hear, and what to do instead, and runs on.
TEST(WindowWithoutReadableKeys, SaysOnceWhyOnlyX11WindowsHearTheChordsAndRunsOn)
{
    const VirtualDisplay display;
    const TestSink audio;
    ChildProcess::Options options;
    options.environment = audio.environment();
    options.environment.insert(options.environment.end(), {{"DISPLAY", display.name()},
                                                           {"QT_QPA_PLATFORM", "xcb"},
                                                           {"WAYLAND_DISPLAY", "wayland-test-none"},
                                                           {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}});
    const TempDir dir;
    options.stderrPath = dir.file("stderr.txt");
    ChildProcess merlow(MERLOW_BINARY, options);

    X11Connection x11(display.name());
    const auto window = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(window.has_value()) << describePlayer(merlow, options.stderrPath);
    const std::string line = "merlow: the Caps Lock chords are heard only while an X11 window has the focus, through XWayland";
    std::string said;
    EXPECT_TRUE(waitUntil(
        [&] {
            said = readFile(options.stderrPath);
            return said.find(line) != std::string::npos;
        },
        5s))
        << said;
    EXPECT_EQ(said.find(line), said.rfind(line));
    for (const char* part : {"/dev/input", "no session bus", "\"Legacy X11 App Support\"",
                             "`playerctl -p merlow play-pause`", "`playerctl -p merlow stop`"})
        EXPECT_NE(said.find(part, said.find(line)), std::string::npos) << part;
    merlow.stop();
}

TEST(WindowWithoutADisplay, SaysSoInOneLine)
{
    ChildProcess::Options options;
    options.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    const TempDir dir;
    options.stderrPath = dir.file("stderr.txt");
    ChildProcess merlow(MERLOW_BINARY, options);
    EXPECT_EQ(merlow.waitForExit(5s), 1);
    const std::string said = readFile(options.stderrPath);
    EXPECT_EQ(said, "merlow: no display: DISPLAY and WAYLAND_DISPLAY are not set\n");
}

} // namespace
