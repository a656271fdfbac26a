// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "output/audiooutput.h"

// How a backend answered when asked to play.
enum class OutputAnswer {
    Used,
    // It cannot play here: no such server or device, or it said no.
    Refused,
    // What it plays through let a bound pass without answering.
    Unanswered,
};

// The first of its backends, in their order, that plays: each is asked in
// turn where it applies, and answers used, refused or unanswered. Once one
// did not answer, a later one is asked only where it does not wait on the
// same server. The choice is made again whenever no output is open, so a
// server that comes back is used again. The engine's thread makes every call
// but abandonWaits().
class FirstWorkingOutput : public AudioOutput {
public:
    explicit FirstWorkingOutput(std::vector<std::unique_ptr<AudioOutput>> backends);

    const char* name() const override { return current_ != nullptr ? current_->name() : "no output"; }
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
    std::int64_t halt(const HaltFade& fade) override { return current_ != nullptr ? current_->halt(fade) : 0; }
    std::int64_t heardFrames() override { return current_ != nullptr ? current_->heardFrames() : 0; }
    bool heardAdvances() override { return current_ != nullptr && current_->heardAdvances(); }
    std::chrono::milliseconds keptForFade() const override;
    std::chrono::milliseconds refillPeriod() const override;

private:
    std::vector<std::unique_ptr<AudioOutput>> backends_;
    AudioOutput* current_ = nullptr;
    // Set by abandonWaits(), from any thread: no backend is asked after it.
    std::atomic<bool> abandoned_{false};
};
