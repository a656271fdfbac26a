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
    if (phase_.load() != Halted)
        return;
    // The callback takes nothing from the queue while halted or idle.
    read_.store(0);
    written_.store(0, std::memory_order_release);
    endOfData_.store(false);
    ranDry_.store(false);
    lastHeard_ = 0;
    timingSequence_.fetch_add(1, std::memory_order_release);
    anchorFrame_.store(0);
    anchorNs_.store(0);
    timingSequence_.fetch_add(1, std::memory_order_release);
    phase_.store(Idle, std::memory_order_release);
}

std::size_t PipeWireOutput::writable()
{
    if (stream_ == nullptr || lost())
        return 0;
    beginSegmentIfHalted();
    const std::int64_t queued = written_.load() - read_.load(std::memory_order_acquire);
    return static_cast<std::size_t>(std::max<std::int64_t>(queueFrames_ - queued, 0));
}

void PipeWireOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (stream_ == nullptr || lost() || frames == 0)
        return;
    beginSegmentIfHalted();
    const std::int64_t at = written_.load();
    const auto count = std::min<std::int64_t>(static_cast<std::int64_t>(frames), static_cast<std::int64_t>(writable()));
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t slot = (at + done) % queueFrames_;
        const std::int64_t run = std::min(count - done, queueFrames_ - slot);
        std::copy_n(samples + done * channels_, run * channels_, queue_.data() + slot * channels_);
        done += run;
    }
    written_.store(at + count, std::memory_order_release);
}

void PipeWireOutput::start()
{
    if (stream_ == nullptr || lost())
        return;
    beginSegmentIfHalted();
    lastCycleNs_.store(monotonicNs());
    phase_.store(Playing, std::memory_order_release);
    setActive(true);
}

std::int64_t PipeWireOutput::halt()
{
    int phase = phase_.load();
    if (stream_ == nullptr || phase == Halted)
        return haltedAt_.load();
    if (phase == Idle) {
        // Never started: nothing was heard.
        haltedAt_.store(0);
        phase_.store(Halted);
        return 0;
    }
    static_cast<void>(haltHeard_.try_acquire());
    phase_.store(HaltAsked, std::memory_order_release);
    const bool running = streamState_.load() == PW_STREAM_STATE_STREAMING && !lost();
    const bool signalled = running && haltHeard_.try_acquire_for(haltBound);
    if (!signalled) {
        // The graph does not run the stream: nothing more of it is heard.
        qCDebug(outputLog) << "PipeWire's graph" << (running ? "did not take the halt in time" : "does not run the stream");
        phase = HaltAsked;
        if (phase_.compare_exchange_strong(phase, Halted))
            haltedAt_.store(std::min(heardNow(), read_.load()));
    }
    setActive(false);
    return haltedAt_.load();
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
    auto* out = static_cast<std::int16_t*>(data.data);

    const int phase = phase_.load(std::memory_order_acquire);
    const std::int64_t read = read_.load();
    if (phase != HaltAsked) {
        fadeFrom_ = -1;
        fadeEnded_ = false;
    }
    std::int64_t taken = 0;
    if (phase == HaltAsked && fadeEnded_) {
        // A buffer is played the cycle after it is given: the one that ends
        // the fade plays now, and the halt is done.
        int asked = HaltAsked;
        if (phase_.compare_exchange_strong(asked, Halted)) {
            haltedAt_.store(read);
            haltHeard_.release();
        }
    } else if (phase == Playing || phase == HaltAsked) {
        const std::int64_t available = written_.load(std::memory_order_acquire) - read;
        if (phase == HaltAsked && fadeFrom_ < 0)
            fadeFrom_ = read;
        const std::int64_t fadeLeft = phase == HaltAsked ? fadeFrom_ + fadeFrames_ - read : frames;
        taken = std::min({frames, fadeLeft, available});
        for (std::int64_t done = 0; done < taken;) {
            const std::int64_t slot = (read + done) % queueFrames_;
            const std::int64_t run = std::min(taken - done, queueFrames_ - slot);
            std::copy_n(queue_.data() + slot * channels_, run * channels_, out + done * channels_);
            done += run;
        }
        read_.store(read + taken, std::memory_order_release);
        if (phase == HaltAsked) {
            // The fade may span cycles shorter than itself.
            for (std::int64_t i = 0; i < taken; ++i) {
                const std::int64_t gain = fadeFrom_ + fadeFrames_ - (read + i);
                for (int c = 0; c < channels_; ++c) {
                    std::int16_t& sample = out[i * channels_ + c];
                    sample = static_cast<std::int16_t>(sample * gain / (fadeFrames_ + 1));
                }
            }
            fadeEnded_ = taken == fadeLeft || taken == available;
        } else if (taken < frames && endOfData_.load(std::memory_order_acquire)) {
            ranDry_.store(true);
        }
    }
    std::fill(out + taken * channels_, out + frames * channels_, std::int16_t{0});
    data.chunk->offset = 0;
    data.chunk->stride = static_cast<std::int32_t>(stride);
    data.chunk->size = static_cast<std::uint32_t>(frames * stride);

    // This buffer's first frame is heard after the graph's delay.
    pw_time time{};
    if (phase == Playing && pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom != 0) {
        const std::int64_t delayFrames = time.delay * rate_ * time.rate.num / time.rate.denom
                                         + static_cast<std::int64_t>(time.buffered)
                                         + static_cast<std::int64_t>(time.queued) / stride;
        timingSequence_.fetch_add(1, std::memory_order_acq_rel);
        anchorFrame_.store(read - delayFrames, std::memory_order_relaxed);
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
    return std::clamp<std::int64_t>(frame + since * rate_ / 1'000'000'000, 0, read_.load(std::memory_order_acquire));
}

std::int64_t PipeWireOutput::heardFrames()
{
    const int phase = phase_.load();
    if (phase == Halted)
        return haltedAt_.load();
    if (phase == Idle || stream_ == nullptr)
        return 0;
    if (ranDry_.load())
        lastHeard_ = written_.load();
    else
        lastHeard_ = std::max(lastHeard_, heardNow());
    return lastHeard_;
}

bool PipeWireOutput::heardAdvances()
{
    if (stream_ == nullptr || lost() || phase_.load() != Playing || ranDry_.load())
        return false;
    const auto since = std::chrono::nanoseconds(monotonicNs() - lastCycleNs_.load());
    return streamState_.load() == PW_STREAM_STATE_STREAMING && since < cycleGap;
}

std::chrono::milliseconds PipeWireOutput::refillPeriod() const
{
    return queueAhead / 4;
}
