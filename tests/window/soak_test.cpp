// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>

#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/drops.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"
#include "window/form1.h"

using namespace std::chrono_literals;

namespace {

std::size_t entriesIn(const char* folder)
{
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// A thousand rounds of what a user does, across the generated files; under
// the sanitizers this is also the leak and error check.
TEST(Soak, AThousandCyclesOfDropPlayPauseStopAndReplaceLeaveNothingBehind)
{
    const TestSink audio;
    audio.useInThisProcess();
    Form1 window(new SystemMediaPlayer);
    std::vector<QString> messages;
    window.setMessagePresenter([&](const QString& text) { messages.push_back(text); });
    window.show();
    auto* engine = window.findChild<MediaEngine*>(QStringLiteral("MediaPlayer1"));
    const char* files[] = {"cbr44_stereo.mp3", "vbr44.mp3", "id3v2.mp3", "cbr44_noheader.mp3"};

    const auto cycle = [&](int round) {
        // Now and then a file in another format, which changes the device.
        const char* file = round % 100 == 99 ? "mono48.mp3" : files[round % std::size(files)];
        dropOnWindow(window, labelCentre, *filesData({testFile(file)}));
        if (!waitUntilOpen(*engine))
            return false;
        window.pause();
        window.play();
        window.stop();
        window.play();
        return engine->playState() == PlayState::Playing;
    };
    // Warm up, so what is made once (the sound device, fonts) is counted.
    for (int round = 0; round < 10; ++round)
        ASSERT_TRUE(cycle(round));
    const std::size_t descriptors = entriesIn("/proc/self/fd");
    const std::size_t threads = entriesIn("/proc/self/task");

    for (int round = 0; round < 1000; ++round)
        ASSERT_TRUE(cycle(round)) << "round " << round;
    window.stop();
    // Nothing grew: no file left open, no thread left running.
    EXPECT_LE(entriesIn("/proc/self/fd"), descriptors);
    EXPECT_LE(entriesIn("/proc/self/task"), threads);
    EXPECT_TRUE(messages.empty());
}

} // namespace
