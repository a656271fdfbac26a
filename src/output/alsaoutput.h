// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "output/audiooutput.h"

struct _snd_pcm; // NOLINT(bugprone-reserved-identifier): ALSA's own name

// ALSA's default device, where no sound server answers. Opened without
// blocking and started only when asked; halting drops what is queued at once.
// The engine's thread makes every call.
class AlsaOutput final : public AudioOutput {
public:
    AlsaOutput();

    // Whether ALSA's default device opens without asking the sound server:
    // false, with the reason, where ALSA's configuration is not loaded yet
    // (loading it runs its hooks, and Debian's asks the server whether it
    // runs) or where the default device's type is the server's own plugin.
    // Either would wait on the server with libpulse's own bound alone. A
    // configuration whose files change meanwhile is loaded again at the next
    // open, which this does not foresee.
    static bool defaultAvoidsServer(std::string& error);

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
    struct ClosePcm {
        void operator()(_snd_pcm* pcm) const;
    };

    bool open(int rate, int channels, std::string& error);
    // Drops what is queued and gets ready for a new segment.
    bool dropQueued(std::string& error);
    // After a halt, the next write or start begins a new segment.
    void beginSegmentIfHalted();
    // Ready to take samples again after the device ran dry.
    void recoverFromUnderrun();
    void startDevice();
    // A call on the device failed, as logged: it is given up as lost.
    void fail();

    std::unique_ptr<_snd_pcm, ClosePcm> pcm_;
    int rate_ = 0;
    int channels_ = 0;
    bool failed_ = false;
    bool started_ = false;
    std::int64_t written_ = 0;
    // The segment frame last heard, kept where the device's delay fails.
    std::int64_t lastHeard_ = 0;
    std::optional<std::int64_t> haltedAt_;
};
