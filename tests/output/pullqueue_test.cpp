// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "output/pullqueue.h"

// The queue a pulling backend keeps, driven as a server's graph drives it:
// each cycle pulls what it asks for, here from the test's own thread.

using namespace std::chrono_literals;

namespace {

constexpr int pulledChannels = 2;
constexpr std::int64_t pulledFade = 220;
constexpr std::int16_t pulledLevel = 10000;

struct Graph {
    Graph() { queue.reset(pulledChannels, 4096); }

    // Writes `frames` frames at `pulledLevel`.
    void write(std::int64_t frames)
    {
        const std::vector<std::int16_t> samples(static_cast<std::size_t>(frames * pulledChannels), pulledLevel);
        queue.write(samples.data(), frames);
    }

    // One cycle of `frames`: the left channel of what it gave.
    std::vector<std::int16_t> cycle(std::int64_t frames)
    {
        std::vector<std::int16_t> out(static_cast<std::size_t>(frames * pulledChannels), 1);
        last = queue.pull(out.data(), frames);
        std::vector<std::int16_t> left;
        for (std::int64_t i = 0; i < frames; ++i)
            left.push_back(out[static_cast<std::size_t>(i * pulledChannels)]);
        return left;
    }

    PullQueue queue;
    PullQueue::Pulled last;
};

// Halted mid-play, the next frames pulled fade to silence, across cycles
// shorter than the fade without a step, and silence follows; the cycle after
// the fade ends the halt, at the frame after the fade, and wakes the wait.
TEST(PullQueue, AHaltFadesTheNextFramesPulledAcrossCyclesThenGivesSilence)
{
    Graph graph;
    graph.write(2048);
    graph.queue.start();
    for (const std::int16_t sample : graph.cycle(256))
        ASSERT_EQ(sample, pulledLevel);
    EXPECT_TRUE(graph.last.playing);

    ASSERT_TRUE(graph.queue.askHalt(pulledFade));
    std::vector<std::int16_t> heard;
    for (int i = 0; i < 4; ++i) {
        const auto part = graph.cycle(64);
        heard.insert(heard.end(), part.begin(), part.end());
        EXPECT_FALSE(graph.last.playing);
    }
    int previous = pulledLevel;
    for (std::int64_t i = 0; i < pulledFade; ++i) {
        EXPECT_LT(heard[static_cast<std::size_t>(i)], previous) << "frame " << i;
        EXPECT_LE(previous - heard[static_cast<std::size_t>(i)], pulledLevel / pulledFade + 1) << "frame " << i;
        previous = heard[static_cast<std::size_t>(i)];
    }
    for (std::size_t i = pulledFade; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], 0) << "frame " << i;
    EXPECT_EQ(graph.queue.read(), 256 + pulledFade);

    EXPECT_FALSE(graph.queue.awaitHalt(0ms));
    graph.cycle(64);
    EXPECT_EQ(graph.queue.phase(), PullQueue::Halted);
    EXPECT_EQ(graph.queue.haltedAt(), 256 + pulledFade);
    EXPECT_TRUE(graph.queue.awaitHalt(0ms));
    for (const std::int16_t sample : graph.cycle(256))
        ASSERT_EQ(sample, 0);
    EXPECT_EQ(graph.last.taken, 0);
}

// A halt waits for the graph's thread; one the graph does not take is halted
// at once, at what was heard or what was taken, whichever is less; one with
// nothing started is halted at 0 and asks the graph nothing.
TEST(PullQueue, AHaltIsTakenByTheGraphsThreadOrHaltedAtOnceWhereTheGraphDoesNotRun)
{
    Graph graph;
    graph.write(2048);
    graph.queue.start();
    graph.cycle(256);
    ASSERT_TRUE(graph.queue.askHalt(pulledFade));
    std::thread server([&] {
        while (graph.queue.phase() != PullQueue::Halted) {
            graph.cycle(256);
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_TRUE(graph.queue.awaitHalt(1s));
    server.join();
    EXPECT_EQ(graph.queue.haltedAt(), 256 + pulledFade);
    EXPECT_FALSE(graph.queue.askHalt(pulledFade));

    Graph stalled;
    stalled.write(2048);
    stalled.queue.start();
    stalled.cycle(256);
    ASSERT_TRUE(stalled.queue.askHalt(pulledFade));
    stalled.queue.haltNow(1000);
    EXPECT_EQ(stalled.queue.haltedAt(), 256);

    Graph idle;
    idle.write(2048);
    EXPECT_FALSE(idle.queue.askHalt(pulledFade));
    EXPECT_EQ(idle.queue.haltedAt(), 0);
}

// The engine writes no more than there is room for; after a halt the next
// segment begins empty at frame 0; once everything written after the end of
// the data is taken, the queue has run dry.
TEST(PullQueue, SegmentsBeginEmptyAtZeroAndTheEndRunsDry)
{
    Graph graph;
    graph.write(5000);
    EXPECT_EQ(graph.queue.written(), 4096);
    EXPECT_EQ(graph.queue.writable(), 0);
    graph.queue.start();
    graph.cycle(1000);
    EXPECT_EQ(graph.queue.writable(), 1000);

    graph.queue.stop();
    EXPECT_TRUE(graph.queue.beginSegmentIfHalted());
    EXPECT_FALSE(graph.queue.beginSegmentIfHalted());
    EXPECT_EQ(graph.queue.written(), 0);
    EXPECT_EQ(graph.queue.read(), 0);
    for (const std::int16_t sample : graph.cycle(64))
        ASSERT_EQ(sample, 0) << "idle";

    graph.write(100);
    graph.queue.endOfData();
    graph.queue.start();
    graph.cycle(64);
    EXPECT_FALSE(graph.queue.ranDry());
    const auto last = graph.cycle(64);
    EXPECT_EQ(graph.last.from, 64);
    EXPECT_EQ(graph.last.taken, 36);
    EXPECT_EQ(last[35], pulledLevel);
    EXPECT_EQ(last[36], 0);
    EXPECT_TRUE(graph.queue.ranDry());
}

} // namespace
