#pragma once

#include <algorithm>
#include <bit>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

// Single-producer, single-consumer ring of 16-bit samples. The decoder thread
// writes, the audio callback reads; neither side locks or allocates.
// reset() is only safe while neither side runs (under the audio device lock).
class SampleRing {
public:
    explicit SampleRing(std::size_t minCapacity)
        : buffer_(std::bit_ceil(minCapacity)), mask_(buffer_.size() - 1) {}

    std::size_t capacity() const { return buffer_.size(); }

    std::size_t readable() const
    {
        return writeIndex_.load(std::memory_order_acquire) - readIndex_.load(std::memory_order_relaxed);
    }

    std::size_t writable() const
    {
        return capacity() - (writeIndex_.load(std::memory_order_relaxed) - readIndex_.load(std::memory_order_acquire));
    }

    std::size_t write(const std::int16_t* samples, std::size_t count)
    {
        const std::size_t w = writeIndex_.load(std::memory_order_relaxed);
        count = std::min(count, writable());
        for (std::size_t i = 0; i < count; ++i)
            buffer_[(w + i) & mask_] = samples[i];
        writeIndex_.store(w + count, std::memory_order_release);
        return count;
    }

    // Copies up to count samples without consuming them.
    std::size_t peek(std::int16_t* out, std::size_t count) const
    {
        const std::size_t r = readIndex_.load(std::memory_order_relaxed);
        count = std::min(count, readable());
        for (std::size_t i = 0; i < count; ++i)
            out[i] = buffer_[(r + i) & mask_];
        return count;
    }

    std::size_t read(std::int16_t* out, std::size_t count)
    {
        count = peek(out, count);
        readIndex_.store(readIndex_.load(std::memory_order_relaxed) + count, std::memory_order_release);
        return count;
    }

    void reset()
    {
        readIndex_.store(0, std::memory_order_relaxed);
        writeIndex_.store(0, std::memory_order_release);
    }

private:
    std::vector<std::int16_t> buffer_;
    std::size_t mask_;
    std::atomic<std::size_t> readIndex_{0};
    std::atomic<std::size_t> writeIndex_{0};
};
