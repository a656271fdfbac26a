// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "harness/desktop.h"
#include "harness/nonregularfiles.h"

namespace {

// What a file manager can drag that the player must refuse with a message,
// dragged for real while a file plays: each time a message box comes up,
// closes at Return, and the player is alive and still playing.
TEST_F(DesktopDrop, BadFilesDraggedForRealAreReportedWhileTheFilePlaysOn)
{
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);

    const TempDir files;
    const NonRegularFiles nonRegular(files);
    const std::string empty = files.file("empty.mp3");
    std::ofstream(empty).close();
    const std::string rows[] = {files.path(), nonRegular.fifo(), "/dev/zero", nonRegular.socket(),
                                files.file("vanished.mp3"), empty};
    for (const std::string& path : rows) {
        SCOPED_TRACE(path);
        dragPathOntoLabel(path);
        const auto box = x11.findWindow("Merlow", 3s);
        ASSERT_TRUE(box.has_value()) << "the drag ended with: " << dragResult() << readFile(log);
        ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
        const auto gone = x11.timeUntilGone(*box, 2s);
        ASSERT_TRUE(gone.has_value());
        EXPECT_LT(*gone, 500ms);
        EXPECT_TRUE(merlow->running());
        EXPECT_FALSE(newestSoundSilent());
    }
}

// A text and a web link are refused by the label, with no message; a file
// whose name is not UTF-8 and the first of 1,000 files play.
TEST_F(DesktopDrop, TextsLinksOddNamesAndManyFilesDraggedForReal)
{
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);

    const std::vector<std::string> refused[] = {{"--text", "/music/song.mp3"},
                                                {"--link", "https://example.invalid/song.mp3"}};
    for (const auto& arguments : refused) {
        SCOPED_TRACE(arguments[0]);
        dragSourceOntoLabel(arguments);
        EXPECT_EQ(dragResult(), "ignore\n");
        EXPECT_FALSE(x11.findWindow("Merlow", 300ms).has_value());
        EXPECT_TRUE(merlow->running());
        EXPECT_FALSE(newestSoundSilent());
    }

    const TempDir files;
    const std::string oddName = files.file("\xFF\xFE latin-1 \xE9.mp3");
    std::filesystem::copy_file(testFile("vbr44.mp3").toStdString(), oddName);
    dragPathOntoLabel(oddName);
    EXPECT_EQ(dragResult(), "copy\n");
    // The tone once it is steady: a thousand names take a while to cross
    // under the sanitizers.
    const auto untilTone = [this](double hz) {
        double tone = 0.0;
        pollUntil([&] { return std::abs((tone = newestTone()) - hz) <= 2.0; }, 10s, 10ms);
        return tone;
    };
    EXPECT_NEAR(untilTone(523.25), 523.25, 2.0) << readFile(log);

    std::vector<std::string> many{testFile("cbr44_long.mp3").toStdString()};
    many.resize(1000, testFile("vbr44.mp3").toStdString());
    dragSourceOntoLabel(many);
    EXPECT_EQ(dragResult(), "copy\n");
    EXPECT_NEAR(untilTone(440.0), 440.0, 2.0) << readFile(log);
    EXPECT_FALSE(x11.findWindow("Merlow", 300ms).has_value());
}

} // namespace
