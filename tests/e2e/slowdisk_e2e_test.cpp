// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <iostream>

#include <gtest/gtest.h>

#include "harness/desktop.h"
#include "harness/slowreads.h"
#include "harness/windowping.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace {

// A copy of a test file that reads slowly in the player, as from a slow
// disk or a dead network share. Made before the player starts.
struct SlowFile {
    SlowFile(const char* original, const SlowReads::Plan& plan)
        : path(copied(dir, original)), reads(path, plan)
    {
    }

    static std::string copied(const TempDir& dir, const char* original)
    {
        std::string copy = dir.file(std::string("slow-") + original);
        std::filesystem::copy_file(testFile(original).toStdString(), copy);
        return copy;
    }

    TempDir dir;
    std::string path;
    SlowReads reads;
};

// The player on the desktop, one of its files slowed as `plan` says, its
// window pinged all along once found.
class SlowDiskDesktop : protected SlowFile, public DesktopDrop {
protected:
    explicit SlowDiskDesktop(const SlowReads::Plan& plan)
        : SlowFile("cbr44_long.mp3", plan), DesktopDrop(launch(reads))
    {
    }

    static PlayerLaunch launch(const SlowReads& reads)
    {
        PlayerLaunch launch;
        launch.environment = reads.environment();
        launch.environment.emplace_back("QT_LOGGING_RULES", "merlow.*.debug=true");
        return launch;
    }

    // Drags `file` onto the label, the window pinged from then on.
    void drag(const std::string& file)
    {
        dragPathOntoLabel(file);
        if (!ping && player)
            ping = std::make_unique<WindowPing>(display.name(), *player);
        std::cout << "dropped at " << ping->sinceStart().count() << " ms of the pings\n";
    }

    // Waits until `count` more reads of the slow file have begun.
    bool readsGoOn(long count, std::chrono::milliseconds timeout = 5s) const
    {
        const long from = reads.readsBegun();
        return waitUntil([&] { return reads.readsBegun() >= from + count; }, timeout);
    }

    // The reads of the slow file begun over `span` from now.
    long readsOver(std::chrono::milliseconds span) const
    {
        const long from = reads.readsBegun();
        runEventsFor(span);
        return reads.readsBegun() - from;
    }

    void expectTheWindowAnswered()
    {
        ASSERT_TRUE(ping);
        std::cout << "longest wait for the window: " << ping->longestWait().count() << " ms, from "
                  << ping->longestAt().count() << " ms on, over " << ping->answered() << " pings\n";
        EXPECT_GT(ping->answered(), 0);
        EXPECT_LT(ping->longestWait(), 100ms);
    }

    std::unique_ptr<WindowPing> ping;
};

// Each read of the file lasts 200 ms: its open lasts seconds.
class SlowReadsDesktop : public SlowDiskDesktop {
protected:
    SlowReadsDesktop() : SlowDiskDesktop({200ms}) {}
};

// Opened in full, then given up by Stop, by another file and by the close:
// each time at once, within a read, while the window answers throughout.
TEST_F(SlowReadsDesktop, StopAnotherFileAndTheCloseGiveAnOpenUpAtOnce)
{
    drag(path);
    ASSERT_TRUE(waitForSound(0.1)) << readFile(log);
    std::cout << "reads of a whole open: " << reads.readsBegun() << "\n";

    drag(path);
    ASSERT_TRUE(readsGoOn(3)) << readFile(log);
    clickStop();
    // One read may begin between the count and the click, one after it.
    EXPECT_LE(readsOver(800ms), 2) << "after Stop";

    // The other file's drag takes a few reads' time to begin.
    drag(path);
    ASSERT_TRUE(readsGoOn(1)) << readFile(log);
    dragOntoLabel("cbr44_stereo.mp3");
    const long atReplacing = reads.readsBegun();
    ASSERT_TRUE(waitForSound(0.1)) << readFile(log);
    runEventsFor(400ms);
    EXPECT_LE(reads.readsBegun() - atReplacing, 2) << "after another file";

    drag(path);
    ASSERT_TRUE(readsGoOn(3)) << readFile(log);
    expectTheWindowAnswered();
    EXPECT_LT(closeToExit(), 1s);
}

// The engine's first read of the file blocks for 10 s, as on a network share
// whose server has gone.
class BlockedOpenDesktop : public SlowDiskDesktop {
protected:
    BlockedOpenDesktop() : SlowDiskDesktop({0ms, 2, 10s}) {}
};

TEST_F(BlockedOpenDesktop, AReadThatNeverReturnsDoesNotHoldTheClose)
{
    drag(path);
    ASSERT_TRUE(waitUntil([&] { return reads.readsBegun() >= 2; }, 5s)) << readFile(log);
    runEventsFor(100ms);
    expectTheWindowAnswered();
    EXPECT_LT(closeToExit(), 1s);
}

// The drop's own check of the file blocks for 3 s.
class BlockedCheckDesktop : public SlowDiskDesktop {
protected:
    BlockedCheckDesktop() : SlowDiskDesktop({0ms, 1, 3s}) {}
};

TEST_F(BlockedCheckDesktop, ACheckThatDoesNotAnswerIsRefusedWithinASecondAndHoldsNothing)
{
    drag(path);
    // While the check waits; the box that ends the wait is judged apart.
    std::this_thread::sleep_until(dropped + 900ms);
    std::cout << "longest wait for the window while the check waits: " << ping->longestWait().count() << " ms\n";
    EXPECT_LT(ping->longestWait(), 100ms);
    ping.reset();
    const auto box = x11.findWindow("Merlow", 3s);
    ASSERT_TRUE(box) << readFile(log);
    const auto boxAfter = std::chrono::steady_clock::now() - dropped;
    std::cout << "drop to box: " << std::chrono::duration<double, std::milli>(boxAfter).count() << " ms\n";
    EXPECT_LT(boxAfter, 1500ms);
    ASSERT_TRUE(xdotool.keyIn(*box, "Return"));

    // Another file, while the check's read is still held.
    drag(testFile("cbr44_stereo.mp3").toStdString());
    ASSERT_TRUE(waitForSound(0.1)) << readFile(log);
    expectTheWindowAnswered();
    EXPECT_LT(closeToExit(), 1s);
}

// Each read of the file lasts 150 ms, the drop's check too.
class SlowCheckDesktop : public SlowDiskDesktop {
protected:
    SlowCheckDesktop() : SlowDiskDesktop({150ms}) {}
};

// Closed while the drop's check of a file waits on its read, as another
// file plays: the close is not lost to the wait.
TEST_F(SlowCheckDesktop, ACloseDuringTheCheckOfAnotherFileEndsTheProgramAtOnce)
{
    dragOntoLabel("cbr44_stereo.mp3");
    ASSERT_TRUE(waitForSound(0.1)) << readFile(log);
    drag(path);
    EXPECT_LT(closeToExit(), 1s);
}

} // namespace
