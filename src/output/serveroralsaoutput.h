// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>

#include "output/alsaoutput.h"
#include "output/applicationidentity.h"
#include "output/pipewireoutput.h"
#include "output/pulseoutput.h"

// The desktop's sound server where one answers, ALSA where none does:
// PipeWire's own stream where its daemon listens in the user's runtime folder
// and no PulseAudio server is named, libpulse's otherwise. The
// choice is made again whenever no output is open, so a server that comes
// back is used again. Where the server let a bound pass, ALSA's default
// device is tried only where neither ALSA's configuration nor the device
// would ask that server again, with libpulse's own 30 s bound alone.
class ServerOrAlsaOutput : public AudioOutput {
public:
    // The server's mixer shows the stream as the identity's.
    explicit ServerOrAlsaOutput(const ApplicationIdentity& identity);

    void warmUp() override;
    void abandonWaits() override;
    bool prepare(int rate, int channels, std::string& error) override;
    bool isOpen() const override { return current_ != nullptr && current_->isOpen(); }
    void close() override;
    bool lost() const override { return current_ != nullptr && current_->lost(); }
    void nameStream(const std::string& title) override;

    std::size_t writable() override { return current_ != nullptr ? current_->writable() : 0; }
    void write(const std::int16_t* samples, std::size_t frames) override;
    void endOfData() override;
    void start() override;
    std::int64_t halt() override { return current_ != nullptr ? current_->halt() : 0; }
    std::int64_t heardFrames() override { return current_ != nullptr ? current_->heardFrames() : 0; }
    bool heardAdvances() override { return current_ != nullptr && current_->heardAdvances(); }
    std::chrono::milliseconds refillPeriod() const override;

private:
    // PipeWire's own stream is tried first.
    static bool pipeWireFirst();

    PipeWireOutput pipeWire_;
    PulseOutput server_;
    AlsaOutput device_;
    AudioOutput* current_ = nullptr;
    // Set by abandonWaits(), from any thread: no output is opened after it.
    std::atomic<bool> abandoned_{false};
};
