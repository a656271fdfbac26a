// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pullqueue.h"

#include <algorithm>

#include "output/fade.h"

void PullQueue::reset(int channels, std::int64_t frames)
{
    channels_ = channels;
    frames_ = frames;
    samples_.assign(static_cast<std::size_t>(frames * channels), 0);
    phase_.store(Idle);
}

void PullQueue::stop()
{
    haltedAt_.store(0);
    phase_.store(Halted);
}

bool PullQueue::beginSegmentIfHalted()
{
    if (phase_.load() != Halted)
        return false;
    // pull() takes nothing from the queue while halted or idle.
    read_.store(0);
    written_.store(0, std::memory_order_release);
    endOfData_.store(false);
    ranDry_.store(false);
    phase_.store(Idle, std::memory_order_release);
    return true;
}

std::int64_t PullQueue::writable() const
{
    const std::int64_t queued = written_.load() - read_.load(std::memory_order_acquire);
    return std::max<std::int64_t>(frames_ - queued, 0);
}

void PullQueue::write(const std::int16_t* samples, std::int64_t frames)
{
    const std::int64_t at = written_.load();
    const std::int64_t count = std::min(frames, writable());
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t slot = (at + done) % frames_;
        const std::int64_t run = std::min(count - done, frames_ - slot);
        std::copy_n(samples + done * channels_, run * channels_, samples_.data() + slot * channels_);
        done += run;
    }
    written_.store(at + count, std::memory_order_release);
}

bool PullQueue::askHalt(std::int64_t fadeFrames)
{
    const int phase = phase_.load();
    if (phase == Halted)
        return false;
    if (phase == Idle) {
        haltedAt_.store(0);
        phase_.store(Halted);
        return false;
    }
    static_cast<void>(haltHeard_.try_acquire());
    fadeFrames_.store(std::max<std::int64_t>(1, fadeFrames), std::memory_order_relaxed);
    phase_.store(HaltAsked, std::memory_order_release);
    return true;
}

bool PullQueue::awaitHalt(std::chrono::milliseconds bound)
{
    return haltHeard_.try_acquire_for(bound);
}

void PullQueue::haltNow(std::int64_t frame)
{
    int asked = HaltAsked;
    if (phase_.compare_exchange_strong(asked, Halted))
        haltedAt_.store(std::min(frame, read_.load()));
}

PullQueue::Pulled PullQueue::pull(std::int16_t* out, std::int64_t frames)
{
    const int phase = phase_.load(std::memory_order_acquire);
    const std::int64_t read = read_.load();
    if (phase != HaltAsked) {
        fadeFrom_ = -1;
        fadeEnded_ = false;
    }
    std::int64_t taken = 0;
    if (phase == HaltAsked && fadeEnded_) {
        // A cycle's frames are played the cycle after they are given: the
        // fade's last plays now, and the halt is done.
        int asked = HaltAsked;
        if (phase_.compare_exchange_strong(asked, Halted)) {
            haltedAt_.store(read);
            haltHeard_.release();
        }
    } else if (phase == Playing || phase == HaltAsked) {
        const std::int64_t available = written_.load(std::memory_order_acquire) - read;
        const std::int64_t fadeLength = fadeFrames_.load(std::memory_order_relaxed);
        if (phase == HaltAsked && fadeFrom_ < 0)
            fadeFrom_ = read;
        const std::int64_t fadeLeft = phase == HaltAsked ? fadeFrom_ + fadeLength - read : frames;
        taken = std::min({frames, fadeLeft, available});
        for (std::int64_t done = 0; done < taken;) {
            const std::int64_t slot = (read + done) % frames_;
            const std::int64_t run = std::min(taken - done, frames_ - slot);
            std::copy_n(samples_.data() + slot * channels_, run * channels_, out + done * channels_);
            done += run;
        }
        read_.store(read + taken, std::memory_order_release);
        if (phase == HaltAsked) {
            // The fade may span cycles shorter than itself.
            fadeOut(out, taken, channels_, read - fadeFrom_, fadeLength);
            fadeEnded_ = taken == fadeLeft || taken == available;
        } else if (taken < frames && endOfData_.load(std::memory_order_acquire)) {
            ranDry_.store(true);
        }
    }
    std::fill(out + taken * channels_, out + frames * channels_, std::int16_t{0});
    return {read, taken, phase == Playing};
}
