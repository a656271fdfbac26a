// SPDX-License-Identifier: GPL-3.0-or-later
// PipeWire's stream in play: the segments the engine writes, the graph's
// cycles that play them and fade them out, and what is heard.
#include "output/pipewireoutput.h"

#include <algorithm>
#include <ctime>

#include <pipewire/pipewire.h>

#include "output/outputlog.h"

namespace {

// A halt is taken up by the graph's next cycle; past this the graph is taken
// not to run the stream, and nothing more of it is heard.
constexpr std::chrono::milliseconds haltBound{250};
// The graph has run the stream lately: what is heard moves on.
constexpr std::chrono::milliseconds cycleGap{100};

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

void PipeWireOutput::setActive(bool active)
{
    pw_thread_loop_lock(loop_);
    if (stream_ != nullptr && pw_stream_set_active(stream_, active) < 0)
        qCDebug(outputLog) << "cannot" << (active ? "start" : "stop") << "PipeWire's stream";
    pw_thread_loop_unlock(loop_);
}

void PipeWireOutput::beginSegmentIfHalted()
{
    if (!queue_.beginSegmentIfHalted())
        return;
    lastHeard_ = 0;
    timingSequence_.fetch_add(1, std::memory_order_release);
    anchorFrame_.store(0);
    anchorNs_.store(0);
    timingSequence_.fetch_add(1, std::memory_order_release);
}

std::size_t PipeWireOutput::writable()
{
    if (stream_ == nullptr || lost())
        return 0;
    beginSegmentIfHalted();
    return static_cast<std::size_t>(queue_.writable());
}

void PipeWireOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (stream_ == nullptr || lost() || frames == 0)
        return;
    beginSegmentIfHalted();
    queue_.write(samples, static_cast<std::int64_t>(frames));
}

void PipeWireOutput::start()
{
    if (stream_ == nullptr || lost())
        return;
    beginSegmentIfHalted();
    lastCycleNs_.store(monotonicNs());
    queue_.start();
    setActive(true);
}

std::int64_t PipeWireOutput::halt(const HaltFade& fade)
{
    if (stream_ == nullptr || !queue_.askHalt(fade.frames()))
        return queue_.haltedAt();
    const bool running = streamState_.load() == PW_STREAM_STATE_STREAMING && !lost();
    if (!running || !queue_.awaitHalt(haltBound)) {
        // The graph does not run the stream: nothing more of it is heard.
        qCDebug(outputLog) << "PipeWire's graph" << (running ? "did not take the halt in time" : "does not run the stream");
        queue_.haltNow(heardNow());
    }
    setActive(false);
    return queue_.haltedAt();
}

void PipeWireOutput::process()
{
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr)
        return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data == nullptr) {
        pw_stream_queue_buffer(stream_, buffer);
        return;
    }
    const std::int64_t stride = static_cast<std::int64_t>(channels_) * 2;
    std::int64_t frames = data.maxsize / stride;
    if (buffer->requested != 0)
        frames = std::min<std::int64_t>(frames, static_cast<std::int64_t>(buffer->requested));
    const PullQueue::Pulled pulled = queue_.pull(static_cast<std::int16_t*>(data.data), frames);
    data.chunk->offset = 0;
    data.chunk->stride = static_cast<std::int32_t>(stride);
    data.chunk->size = static_cast<std::uint32_t>(frames * stride);

    // This buffer's first frame is heard after the graph's delay.
    pw_time time{};
    if (pulled.playing && pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom != 0) {
        const std::int64_t delayFrames = time.delay * rate_ * time.rate.num / time.rate.denom
                                         + static_cast<std::int64_t>(time.buffered)
                                         + static_cast<std::int64_t>(time.queued) / stride;
        timingSequence_.fetch_add(1, std::memory_order_acq_rel);
        anchorFrame_.store(pulled.from - delayFrames, std::memory_order_relaxed);
        anchorNs_.store(time.now, std::memory_order_relaxed);
        timingSequence_.fetch_add(1, std::memory_order_release);
    }
    lastCycleNs_.store(monotonicNs(), std::memory_order_relaxed);
    pw_stream_queue_buffer(stream_, buffer);
}

std::int64_t PipeWireOutput::heardNow() const
{
    std::int64_t frame = 0;
    std::int64_t at = 0;
    for (;;) {
        const std::uint64_t before = timingSequence_.load(std::memory_order_acquire);
        frame = anchorFrame_.load(std::memory_order_relaxed);
        at = anchorNs_.load(std::memory_order_relaxed);
        if ((before & 1U) == 0 && timingSequence_.load(std::memory_order_acquire) == before)
            break;
    }
    if (at == 0)
        return 0;
    const std::int64_t since = std::max<std::int64_t>(monotonicNs() - at, 0);
    return std::clamp<std::int64_t>(frame + since * rate_ / 1'000'000'000, 0, queue_.read());
}

std::int64_t PipeWireOutput::heardFrames()
{
    const PullQueue::Phase phase = queue_.phase();
    if (phase == PullQueue::Halted)
        return queue_.haltedAt();
    if (phase == PullQueue::Idle || stream_ == nullptr)
        return 0;
    if (queue_.ranDry())
        lastHeard_ = queue_.written();
    else
        lastHeard_ = std::max(lastHeard_, heardNow());
    return lastHeard_;
}

bool PipeWireOutput::heardAdvances()
{
    if (stream_ == nullptr || lost() || queue_.phase() != PullQueue::Playing || queue_.ranDry())
        return false;
    const auto since = std::chrono::nanoseconds(monotonicNs() - lastCycleNs_.load());
    return streamState_.load() == PW_STREAM_STATE_STREAMING && since < cycleGap;
}

std::chrono::milliseconds PipeWireOutput::keptForFade() const
{
    // The queue fades what it holds itself.
    return std::chrono::milliseconds(0);
}

std::chrono::milliseconds PipeWireOutput::refillPeriod() const
{
    return queueAhead / 4;
}
