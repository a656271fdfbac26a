// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <semaphore>
#include <vector>

// The queue of a backend whose server pulls what it plays: a callback on the
// server's real-time thread asks for each cycle's frames. The engine writes
// ahead into it, pull() takes what a cycle asks for, and a halt fades out
// the next frames pull() takes, then gives silence. Frames count from 0 in
// each segment, as the engine counts them.
//
// Threads: the server's thread makes pull() alone, which takes no lock,
// allocates nothing and wakes nobody but a halt waiting for it; the engine's
// thread makes every other call. They share the atomics below; where the
// fade began and whether it has ended are the server thread's alone.
class PullQueue {
public:
    enum Phase : int { Idle, Playing, HaltAsked, Halted };

    // What a cycle took: from which segment frame, how many, and whether the
    // segment played on (was not halting).
    struct Pulled {
        std::int64_t from = 0;
        std::int64_t taken = 0;
        bool playing = false;
    };

    // Empty and idle at this shape: up to `frames` frames of `channels`
    // samples ahead. Not while pull() runs.
    void reset(int channels, std::int64_t frames);
    // Halted at once at frame 0, without a fade: the next segment begins
    // empty. Not while pull() runs.
    void stop();

    // After a halt, the next segment begins empty at frame 0: whether it did.
    bool beginSegmentIfHalted();
    std::int64_t writable() const;
    // Takes as many of `frames` as there is room for.
    void write(const std::int16_t* samples, std::int64_t frames);
    void endOfData() { endOfData_.store(true, std::memory_order_release); }
    void start() { phase_.store(Playing, std::memory_order_release); }
    // Asks pull() to fade out over `fadeFrames` and stop: false where nothing
    // plays, halted already or never started (halted at 0 now).
    bool askHalt(std::int64_t fadeFrames);
    // Waits up to `bound` for the cycle after the one that ends the fade.
    bool awaitHalt(std::chrono::milliseconds bound);
    // Where pull() did not end the halt: halted at once at `frame`, or at
    // what pull() has taken where that is less.
    void haltNow(std::int64_t frame);

    Phase phase() const { return static_cast<Phase>(phase_.load(std::memory_order_acquire)); }
    std::int64_t read() const { return read_.load(std::memory_order_acquire); }
    std::int64_t written() const { return written_.load(std::memory_order_acquire); }
    // Everything written was taken after endOfData().
    bool ranDry() const { return ranDry_.load(); }
    std::int64_t haltedAt() const { return haltedAt_.load(); }

    // The server's thread: fills `frames` frames at `out`, with silence past
    // what the queue gives.
    Pulled pull(std::int16_t* out, std::int64_t frames);

private:
    int channels_ = 0;
    std::int64_t frames_ = 0;
    // The engine writes after `written_`, pull() reads after `read_`.
    std::vector<std::int16_t> samples_;
    std::atomic<std::int64_t> written_{0};
    std::atomic<std::int64_t> read_{0};
    std::atomic<int> phase_{Idle};
    std::atomic<bool> endOfData_{false};
    std::atomic<bool> ranDry_{false};
    std::atomic<std::int64_t> haltedAt_{0};
    // Written before a halt is asked, read by pull() after.
    std::atomic<std::int64_t> fadeFrames_{1};
    std::binary_semaphore haltHeard_{0};
    // The server's thread alone.
    std::int64_t fadeFrom_ = -1;
    bool fadeEnded_ = false;
};
