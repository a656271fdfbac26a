// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "output/applicationidentity.h"
#include "output/audiooutput.h"
#include "output/pullqueue.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_hook;

// A stream of PipeWire's own, where its daemon listens in the user's runtime
// folder: PipeWire's graph asks for frames each cycle, and takes them from a
// queue the engine keeps two seconds ahead, so the engine wakes as seldom as
// through libpulse. A halt is heard at the next cycle: the graph's callback
// fades out the frames it was about to take, and plays silence after them.
// What is heard moves on only while the graph runs the stream.
//
// Threads: the engine's thread makes every call but abandonWaits(), and
// holds the thread loop's lock around each call into libpipewire. The
// thread loop's thread runs the connection's and the stream's events, with
// that lock held: they set the atomic state below and wake the engine. The
// graph's own real-time thread runs process(), which takes no lock: it pulls
// from the queue, whose own comment says how the two threads share it. Lock
// order: the thread loop's lock, then the engine's mutex (the events wake
// the engine); `loopMutex_` comes before the thread loop's lock.
class PipeWireOutput final : public AudioOutput {
public:
    explicit PipeWireOutput(ApplicationIdentity identity);
    ~PipeWireOutput() override;

    const char* name() const override { return "PipeWire stream"; }
    // Where a PipeWire daemon's socket is in the user's runtime folder and no
    // PulseAudio server is named, found without connecting.
    bool applies() const override;
    void warmUp() override;
    void abandonWaits() override;
    bool prepare(int rate, int channels, std::string& error) override;
    bool isOpen() const override { return stream_ != nullptr; }
    void close() override;
    bool lost() const override { return lost_.load(); }
    void nameStream(const std::string& title) override;

    std::size_t writable() override;
    void write(const std::int16_t* samples, std::size_t frames) override;
    void endOfData() override { queue_.endOfData(); }
    void start() override;
    std::int64_t halt(const HaltFade& fade) override;
    std::int64_t heardFrames() override;
    bool heardAdvances() override;
    std::chrono::milliseconds keptForFade() const override;
    std::chrono::milliseconds refillPeriod() const override;

private:
    // The queue the engine keeps ahead of the graph.
    static constexpr std::chrono::milliseconds queueAhead{2000};
    bool startConnecting(std::string& error);
    bool connect(std::string& error);
    // With the lock held.
    bool openStream(int rate, int channels, std::string& error);
    void destroyStream();
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound, std::string& error);
    void setActive(bool active);
    // After a halt, the next segment starts empty at frame 0.
    void beginSegmentIfHalted();
    std::int64_t heardNow() const;

    // The graph's real-time thread.
    void process();

    // The thread loop's and the graph's callbacks, in the source file.
    friend struct PipeWireEvents;

    const ApplicationIdentity identity_;
    std::string title_;

    // Guards loop_ for abandonWaits(), which comes from another thread.
    std::mutex loopMutex_;
    std::atomic<bool> abandoned_{false};
    pw_thread_loop* loop_ = nullptr;
    // The engine's thread alone sets these, with the lock held.
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    const std::unique_ptr<spa_hook> coreListener_;
    const std::unique_ptr<spa_hook> streamListener_;
    int syncSeq_ = 0;
    int rate_ = 0;
    int channels_ = 0;

    // Set by the thread loop's events.
    std::atomic<bool> synced_{false};
    std::atomic<bool> lost_{false};
    std::atomic<int> streamState_{0};

    // What the engine writes ahead, and the graph's callback plays.
    PullQueue queue_;
    // What the callback said of the last cycle: the segment frame heard at
    // a monotonic time, the frames it gave, and when it ran. Written by the
    // graph's thread under the sequence count, read by the engine's.
    std::atomic<std::uint64_t> timingSequence_{0};
    std::atomic<std::int64_t> anchorFrame_{0};
    std::atomic<std::int64_t> anchorNs_{0};
    std::atomic<std::int64_t> lastCycleNs_{0};
    // The segment frame last heard, so that it never goes back.
    std::int64_t lastHeard_ = 0;
};
