// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>

#include <gtest/gtest.h>

#include "harness/labeldrag.h"
#include "harness/player.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"
#include "support/testdata.h"
#include "support/poll.h"
#include "support/cdaudio.h"

using namespace std::chrono_literals;

// The player and a stand-in file manager side by side on a virtual display.
class DesktopDrop : public ::testing::Test {
protected:
    explicit DesktopDrop(const std::vector<std::string>& wrapper = {}) : DesktopDrop(wrappedIn(wrapper)) {}

    // The player's standard error goes to the artifact named `logName`.
    explicit DesktopDrop(const PlayerLaunch& launch, const std::string& logName = "drop-merlow-stderr.txt")
        : log(artifact(logName)), merlow(startPlayer(display, audio, log, launch)), x11(display.name())
    {
    }

    // An artifact name of the running test's own, for tests run side by side.
    static std::string testsOwn(const std::string& name)
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return std::string(test->test_suite_name()) + "." + test->name() + "-" + name;
    }

    static PlayerLaunch wrappedIn(const std::vector<std::string>& wrapper)
    {
        PlayerLaunch launch;
        launch.wrapper = wrapper;
        return launch;
    }

    // Drags a generated test file from the source window onto the middle of
    // the label.
    void dragOntoLabel(const char* file) { dragPathOntoLabel(testFile(file).toStdString()); }

    void dragPathOntoLabel(const std::string& path) { dragSourceOntoLabel({path}); }

    // Drags what the source is told to offer (its command line) onto the label.
    void dragSourceOntoLabel(std::vector<std::string> arguments)
    {
        player = x11.findWindow(playerCaption, 30s);
        ASSERT_TRUE(player) << describePlayer(*merlow, log);
        source.reset(); // its window would be found instead of the new one's
        LabelDrag drag = ::dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11, xdotool, *player,
                                         std::move(arguments), dir.file("source-out.txt"));
        source = std::move(drag.source);
        sourceWindow = drag.sourceWindow;
        ASSERT_TRUE(drag.dragged) << readFile(log);
        dropped = std::chrono::steady_clock::now();
    }

    // Waits until `seconds` of sound have been played; returns where the sound began.
    std::optional<std::size_t> waitForSound(double seconds) const
    {
        std::optional<std::size_t> start;
        const auto played = [&] {
            if (!start)
                start = firstSound(audio.read().channel(0));
            return start && audio.framesRecorded() >= *start + static_cast<std::size_t>(seconds * cdRate);
        };
        return pollUntil(played, 10s) ? start : std::nullopt;
    }

    // Whether the newest 20 ms recorded from the sink are silent.
    bool newestSoundSilent() const
    {
        const std::size_t tail = cdRate / 50;
        const std::size_t written = audio.framesRecorded();
        const auto pcm = audio.read(written > tail ? written - tail : 0).channel(0);
        return !firstSound(pcm).has_value();
    }

    // How long until the player's output turns silent (or sounding), after
    // `from`; nothing within a second.
    std::optional<std::chrono::milliseconds> timeUntilSilent(bool silent, std::chrono::steady_clock::time_point from) const
    {
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from);
        const auto took = pollUntil([&] { return newestSoundSilent() == silent; }, 1s - since);
        return took ? std::optional(since + *took) : std::nullopt;
    }

    std::string sourceSaid() const { return readFile(dir.file("source-out.txt")); }

    // What the source's drag ended with, once it has said.
    std::string dragResult() const
    {
        pollUntil([&] { return !sourceSaid().empty(); }, 3s, 5ms);
        return sourceSaid();
    }

    // The pitch of the newest quarter second the player wrote.
    double newestTone() const
    {
        const std::size_t span = cdRate / 4;
        const std::size_t written = audio.framesRecorded();
        const auto pcm = audio.read(written > span ? written - span : 0).channel(0);
        return toneFrequency(pcm, cdRate, 0, pcm.size());
    }

    const VirtualDisplay display;
    const TestSink audio;
    const TempDir dir;
    const std::string log;
    std::unique_ptr<ChildProcess> merlow;
    X11Connection x11;
    const Xdotool xdotool{display.name()};
    std::unique_ptr<ChildProcess> source;
    std::optional<Window> player;
    std::optional<Window> sourceWindow;
    std::chrono::steady_clock::time_point dropped;
};
