// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <iostream>

#include <gtest/gtest.h>

#include "harness/desktop.h"
#include "harness/dragover.h"
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

    // Drags the slow file onto the label and waits until `count` reads of it
    // have begun since: its check's, then its open's.
    ::testing::AssertionResult dragTheSlowFile(long count)
    {
        const long from = reads.readsBegun();
        drag(path);
        if (waitUntil([&] { return reads.readsBegun() >= from + count; }, 5s))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << reads.readsBegun() - from << " reads begun; the player's log:\n"
                                             << readFile(log);
    }

    // Whether the player is heard, for 0.1 s.
    ::testing::AssertionResult heard() const
    {
        if (waitForSound(0.1))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "nothing heard; the player's log:\n" << readFile(log);
    }

    // The reads of the slow file begun over `span` from now.
    long readsOver(std::chrono::milliseconds span) const
    {
        const long from = reads.readsBegun();
        runEventsFor(span);
        return reads.readsBegun() - from;
    }

    // The pings so far each answered within 100 ms.
    void expectTheWindowAnswered(const char* when = "")
    {
        ASSERT_TRUE(ping);
        std::cout << "longest wait for the window" << when << ": " << ping->longestWait().count() << " ms, from "
                  << ping->longestAt().count() << " ms on, over " << ping->answered() << " pings\n";
        EXPECT_GT(ping->answered(), 0);
        EXPECT_LT(ping->longestWait(), 100ms);
    }

    // The pings answered so, then a close that ends the program within a second.
    void expectTheWindowAnsweredAndClosesAtOnce()
    {
        expectTheWindowAnswered();
        EXPECT_LT(closeToExit(), 1s);
    }

    // Another file held dragged over the label for `span`: the label takes
    // it, answering each of the drag's moves within 100 ms.
    void expectADragOverAnswered(std::chrono::milliseconds span)
    {
        const auto window = x11.screenPosition(*player);
        const DragOver over(display.name(), *player, testFile("cbr44_stereo.mp3").toStdString(),
                            window.x + labelMiddleX, window.y + labelMiddleY);
        runEventsFor(span);
        std::cout << "longest wait for the drag-over's answer: " << over.longestWait().count() << " ms, over "
                  << over.answered() << " moves\n";
        EXPECT_TRUE(over.acceptedThroughout());
        EXPECT_LT(over.longestWait(), 100ms);
    }

    // A click of `button`, drawn pressed within 100 ms of the press.
    void expectAClickAnswered(Spot button)
    {
        const auto answer = timedClick(button);
        ASSERT_TRUE(answer) << "the button was not drawn pressed";
        std::cout << "press to the button drawn pressed: " << answer->count() << " ms\n";
        EXPECT_LT(*answer, 100ms);
    }

    std::unique_ptr<WindowPing> ping;
};

// Each read of the file lasts 200 ms: its open lasts seconds.
class SlowReadsDesktop : public SlowDiskDesktop {
protected:
    SlowReadsDesktop() : SlowDiskDesktop({200ms}) {}
};

// Opened in full, then given up by Stop, by another file and by the close:
// each time at once, within a read, while the window answers throughout: the
// pings, the click of Stop, another file dragged over the label.
TEST_F(SlowReadsDesktop, StopAnotherFileAndTheCloseGiveAnOpenUpAtOnce)
{
    drag(path);
    ASSERT_TRUE(heard());
    std::cout << "reads of a whole open: " << reads.readsBegun() << "\n";

    ASSERT_TRUE(dragTheSlowFile(3));
    expectAClickAnswered(stopButton);
    // One read may begin between the count and the click, one after it.
    EXPECT_LE(readsOver(800ms), 2) << "after Stop";

    // The other file's drag takes a few reads' time to begin.
    ASSERT_TRUE(dragTheSlowFile(1));
    dragOntoLabel("cbr44_stereo.mp3");
    const long atReplacing = reads.readsBegun();
    ASSERT_TRUE(heard());
    runEventsFor(400ms);
    EXPECT_LE(reads.readsBegun() - atReplacing, 2) << "after another file";

    ASSERT_TRUE(dragTheSlowFile(3));
    expectADragOverAnswered(400ms);
    expectTheWindowAnsweredAndClosesAtOnce();
}

// The engine's first read of the file blocks for 10 s, as on a network share
// whose server has gone.
class BlockedOpenDesktop : public SlowDiskDesktop {
protected:
    BlockedOpenDesktop() : SlowDiskDesktop({0ms, 2, 10s}) {}
};

TEST_F(BlockedOpenDesktop, AReadThatNeverReturnsDoesNotHoldTheClose)
{
    ASSERT_TRUE(dragTheSlowFile(2));
    runEventsFor(100ms);
    expectTheWindowAnsweredAndClosesAtOnce();
}

// The drop's own check of the file blocks for 3 s.
class BlockedCheckDesktop : public SlowDiskDesktop {
protected:
    BlockedCheckDesktop() : SlowDiskDesktop({0ms, 1, 3s}) {}
};

TEST_F(BlockedCheckDesktop, ACheckThatDoesNotAnswerIsRefusedWithinASecondAndHoldsNothing)
{
    // Its check's read begun, the drop is taken: a drag over the label before
    // then could be the data the drop fetches.
    ASSERT_TRUE(dragTheSlowFile(1));
    // While the check waits; the box that ends the wait is judged apart.
    expectADragOverAnswered(300ms);
    expectAClickAnswered(pauseButton);
    std::this_thread::sleep_until(dropped + 900ms);
    expectTheWindowAnswered(" while the check waits");
    ping.reset();
    const auto box = x11.findWindow("Merlow", 3s);
    ASSERT_TRUE(box) << readFile(log);
    const auto boxAfter = std::chrono::steady_clock::now() - dropped;
    std::cout << "drop to box: " << std::chrono::duration<double, std::milli>(boxAfter).count() << " ms\n";
    EXPECT_LT(boxAfter, 1500ms);
    ASSERT_TRUE(xdotool.keyIn(*box, "Return"));

    // Another file, while the check's read is still held.
    drag(testFile("cbr44_stereo.mp3").toStdString());
    ASSERT_TRUE(heard());
    expectTheWindowAnsweredAndClosesAtOnce();
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
    ASSERT_TRUE(heard());
    ASSERT_TRUE(dragTheSlowFile(1));
    EXPECT_LT(closeToExit(), 1s);
}

} // namespace
