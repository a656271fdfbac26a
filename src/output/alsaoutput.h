#pragma once

#include <cstdint>
#include <optional>

#include "output/audiooutput.h"

struct _snd_pcm; // NOLINT(bugprone-reserved-identifier): ALSA's own name

// ALSA's default device, where no sound server answers. Opened without
// blocking and started only when asked; halting drops what is queued at once.
// The engine's thread makes every call.
class AlsaOutput final : public AudioOutput {
public:
    AlsaOutput() = default;
    ~AlsaOutput() override;

    bool prepare(int rate, int channels, std::string& error) override;
    bool isOpen() const override { return pcm_ != nullptr; }
    void close() override;
    bool lost() const override;

    std::size_t writable() override;
    void write(const std::int16_t* samples, std::size_t frames) override;
    void endOfData() override {}
    void start() override;
    std::int64_t halt() override;
    std::int64_t heardFrames() override;
    std::chrono::milliseconds refillPeriod() const override;

private:
    // After a halt, the next write or start begins a new segment.
    void beginSegmentIfHalted();
    // Ready to take samples again after the device ran dry.
    void recoverFromUnderrun();

    _snd_pcm* pcm_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    bool failed_ = false;
    bool started_ = false;
    std::int64_t written_ = 0;
    std::optional<std::int64_t> haltedAt_;
};
