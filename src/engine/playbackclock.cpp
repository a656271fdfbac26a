#include "engine/playbackclock.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
}

std::int64_t PlaybackClock::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PlaybackClock::beginWrite()
{
    sequence_.store(sequence_.load(relaxed) + 1, relaxed);
    std::atomic_thread_fence(std::memory_order_release);
}

void PlaybackClock::endWrite()
{
    sequence_.store(sequence_.load(relaxed) + 1, std::memory_order_release);
}

void PlaybackClock::configure(int rate, int latencyFrames)
{
    beginWrite();
    rate_.store(rate, relaxed);
    latency_.store(latencyFrames, relaxed);
    endWrite();
}

void PlaybackClock::recordBuffer(std::int64_t fileStart, int frames, int content, std::int64_t nowNs)
{
    beginWrite();
    const std::uint64_t index = recorded_.load(relaxed);
    Buffer& b = buffers_[index % historySize];
    const std::int64_t deviceStart = deviceEnd_.load(relaxed);
    b.deviceStart.store(deviceStart, relaxed);
    b.fileStart.store(fileStart, relaxed);
    b.frames.store(frames, relaxed);
    b.content.store(content, relaxed);
    recorded_.store(index + 1, relaxed);
    deviceEnd_.store(deviceStart + frames, relaxed);
    lastBufferNs_.store(nowNs, relaxed);
    endWrite();
}

void PlaybackClock::restartAt(std::int64_t fileFrame)
{
    beginWrite();
    restartDevice_.store(deviceEnd_.load(relaxed), relaxed);
    restartFile_.store(fileFrame, relaxed);
    endWrite();
}

PlaybackClock::Snapshot PlaybackClock::snapshot() const
{
    Snapshot s{};
    for (;;) {
        const std::uint64_t before = sequence_.load(std::memory_order_acquire);
        if (before % 2 == 0) {
            for (std::size_t i = 0; i < historySize; ++i) {
                s.buffers[i] = {buffers_[i].deviceStart.load(relaxed), buffers_[i].fileStart.load(relaxed),
                                buffers_[i].frames.load(relaxed), buffers_[i].content.load(relaxed)};
            }
            s.recorded = recorded_.load(relaxed);
            s.lastBufferNs = lastBufferNs_.load(relaxed);
            s.restartDevice = restartDevice_.load(relaxed);
            s.restartFile = restartFile_.load(relaxed);
            s.rate = rate_.load(relaxed);
            s.latency = latency_.load(relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(relaxed) == before)
                return s;
        }
    }
}

std::int64_t PlaybackClock::heardFileFrame(std::int64_t nowNs) const
{
    const Snapshot s = snapshot();
    if (s.recorded == 0 || s.rate <= 0)
        return s.restartFile;

    // The newest buffer starts being heard `latency` frames after it was
    // handed over, and advances with real time until it has all been heard.
    const BufferCopy& newest = s.buffers[(s.recorded - 1) % historySize];
    const std::int64_t elapsedFrames = std::max<std::int64_t>(0, nowNs - s.lastBufferNs) * s.rate / 1'000'000'000;
    const std::int64_t heardDevice =
        newest.deviceStart - s.latency + std::min<std::int64_t>(elapsedFrames, newest.frames);

    if (heardDevice < s.restartDevice)
        return s.restartFile;

    const std::uint64_t kept = std::min<std::uint64_t>(s.recorded, historySize);
    std::int64_t oldestFile = s.restartFile;
    for (std::uint64_t back = 0; back < kept; ++back) {
        const BufferCopy& b = s.buffers[(s.recorded - 1 - back) % historySize];
        if (b.deviceStart < s.restartDevice)
            break;
        oldestFile = b.fileStart;
        if (heardDevice >= b.deviceStart) {
            const std::int64_t offset = std::min<std::int64_t>(heardDevice - b.deviceStart, b.content);
            return b.fileStart + offset;
        }
    }
    return oldestFile;
}
