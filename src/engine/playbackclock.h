#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// Maps the device's output timeline to frames of the file, so that the
// position reported is that of the audio being heard. The audio callback
// records each buffer it hands to the device; any thread may ask which file
// frame is heard now. Readers take a consistent snapshot through a sequence
// counter, so neither side ever waits for the other.
class PlaybackClock {
public:
    // Before the device starts: its rate and the frames between a buffer
    // being handed over and its first frame being heard.
    void configure(int rate, int latencyFrames);

    // Audio callback: a buffer of `frames` device frames, the first `content`
    // of which are file frames starting at `fileStart`; the rest is silence.
    void recordBuffer(std::int64_t fileStart, int frames, int content, std::int64_t nowNs);

    // Playback jumps to `fileFrame`; earlier buffers no longer count.
    // Only while the callback cannot run (under the device lock, or no device).
    void restartAt(std::int64_t fileFrame);

    std::int64_t heardFileFrame(std::int64_t nowNs) const;

    static std::int64_t nowNs();

private:
    static constexpr std::size_t historySize = 8;

    struct Buffer {
        std::atomic<std::int64_t> deviceStart{0};
        std::atomic<std::int64_t> fileStart{0};
        std::atomic<int> frames{0};
        std::atomic<int> content{0};
    };

    struct BufferCopy {
        std::int64_t deviceStart;
        std::int64_t fileStart;
        int frames;
        int content;
    };

    struct Snapshot {
        std::array<BufferCopy, historySize> buffers;
        std::uint64_t recorded;
        std::int64_t lastBufferNs;
        std::int64_t restartDevice;
        std::int64_t restartFile;
        int rate;
        int latency;
    };

    Snapshot snapshot() const;
    void beginWrite();
    void endWrite();

    std::atomic<std::uint64_t> sequence_{0};
    std::array<Buffer, historySize> buffers_;
    std::atomic<std::uint64_t> recorded_{0};
    std::atomic<std::int64_t> deviceEnd_{0};
    std::atomic<std::int64_t> lastBufferNs_{0};
    std::atomic<std::int64_t> restartDevice_{0};
    std::atomic<std::int64_t> restartFile_{0};
    std::atomic<int> rate_{0};
    std::atomic<int> latency_{0};
};
