// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/playbackinbox.h"
#include "engine/playbackshared.h"

using namespace std::chrono_literals;

namespace {

// Files asked for one after another before the engine's thread looks: it is
// handed the newest alone, the ones before are cancelled, and the outcome of
// one it had already begun is dropped rather than reported after the newer
// file's Opening.
TEST(PlaybackInbox, HandsOverTheNewestOpenAndDropsTheOutcomeOfOneSuperseded)
{
    PlaybackShared shared;
    std::vector<std::pair<int, int>> changes;
    PlaybackInbox inbox(shared, [&](int from, int to) { changes.emplace_back(from, to); });

    inbox.requestOpen("first.mp3");
    std::optional<OpenRequest> first;
    ASSERT_TRUE(inbox.waitForWork(std::nullopt, first));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->path, "first.mp3");
    EXPECT_EQ(first->commands, shared.commands.load());

    inbox.requestOpen("second.mp3");
    inbox.requestOpen("third.mp3");
    EXPECT_TRUE(first->cancel.stop_requested());
    bool reported = false;
    EXPECT_FALSE(inbox.reportUnlessSuperseded(first->generation, [&] { reported = true; }));
    EXPECT_FALSE(reported);

    std::optional<OpenRequest> newest;
    ASSERT_TRUE(inbox.waitForWork(std::nullopt, newest));
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->path, "third.mp3");
    EXPECT_FALSE(newest->cancel.stop_requested());
    EXPECT_TRUE(inbox.reportUnlessSuperseded(newest->generation, [&] { reported = true; }));
    EXPECT_TRUE(reported);
    // Opening once: a file asked for while another opens is still Opening.
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{OpenState::Closed, OpenState::Opening}}));
}

// A wake from another thread is not lost, whether it comes before the wait
// or during it, and is used up: the next wait lasts until its timeout. Once
// stopped, every wait ends at once, and an open in progress is cancelled.
TEST(PlaybackInbox, AWakeEndsOneWaitAndStopEndsThemAll)
{
    PlaybackShared shared;
    PlaybackInbox inbox(shared, [](int, int) {});
    std::optional<OpenRequest> open;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::thread waker([&] { inbox.wake(); });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(inbox.waitForWork(5s, open));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        waker.join();
        const auto idle = std::chrono::steady_clock::now();
        EXPECT_TRUE(inbox.waitForWork(20ms, open));
        EXPECT_GE(std::chrono::steady_clock::now() - idle, 20ms);
        EXPECT_FALSE(open.has_value());
    }

    inbox.requestOpen("opening.mp3");
    ASSERT_TRUE(inbox.waitForWork(std::nullopt, open));
    ASSERT_TRUE(open.has_value());
    std::thread stopper([&] { inbox.stop(); });
    std::optional<OpenRequest> none;
    EXPECT_FALSE(inbox.waitForWork(5s, none));
    stopper.join();
    EXPECT_FALSE(inbox.waitForWork(std::nullopt, none));
    EXPECT_TRUE(open->cancel.stop_requested());
    EXPECT_FALSE(none.has_value());
}

} // namespace
