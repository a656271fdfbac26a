// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "output/audiooutput.h"

struct _snd_pcm; // NOLINT(bugprone-reserved-identifier): ALSA's own name

// ALSA's default device, where no sound server answers. Opened without
// blocking and started only when asked. A halt takes back what the device
// has queued and not yet played, and writes a fade in its place; a device
// that cannot take it back drops its queue at once. The engine's thread
// makes every call.
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

    const char* name() const override { return "ALSA device"; }
    bool avoidsUnansweredServer(std::string& error) const override { return defaultAvoidsServer(error); }
    bool prepare(int rate, int channels, std::string& error) override;
    bool isOpen() const override { return pcm_ != nullptr; }
    void close() override;
    bool lost() const override;

    std::size_t writable() override;
    void write(const std::int16_t* samples, std::size_t frames) override;
    void endOfData() override {}
    void start() override;
    std::int64_t halt(const HaltFade& fade) override;
    std::int64_t heardFrames() override;
    std::chrono::milliseconds keptForFade() const override;
    std::chrono::milliseconds refillPeriod() const override;

private:
    // Silence follows a halt's fade, so that the device runs dry after it
    // has been heard.
    static constexpr std::chrono::milliseconds silenceAfterFade{20};

    struct ClosePcm {
        void operator()(_snd_pcm* pcm) const;
    };

    bool open(int rate, int channels, std::string& error);
    std::int64_t framesIn(std::chrono::microseconds duration) const;
    // Waits until the last halt's fade has been heard, a few milliseconds.
    void letFadePlayOut();
    // Drops what is queued and gets ready for a new segment, once the last
    // halt's fade has been heard.
    bool dropQueued(std::string& error);
    // Takes back what is queued past what is about to be heard, and writes
    // `fade` from there. The segment frame the fade begins at, or nothing
    // where the device cannot take its queue back.
    std::optional<std::int64_t> fadeOutQueued(std::int64_t heard, const HaltFade& fade);
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
    std::int64_t bufferFrames_ = 0;
    bool failed_ = false;
    bool started_ = false;
    // This segment's frames the device took, from which its delay tells
    // what is heard.
    std::int64_t written_ = 0;
    // The segment frame last heard, kept where the device's delay fails.
    std::int64_t lastHeard_ = 0;
    std::optional<std::int64_t> haltedAt_;
    // A halt's fade and the silence after it, as written to the device.
    std::vector<std::int16_t> fade_;
    // When the last halt's fade will have been heard, while it plays out.
    std::optional<std::chrono::steady_clock::time_point> fadeHeardBy_;
};
