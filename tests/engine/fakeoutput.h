// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "output/audiooutput.h"

// An output that plays nothing: it pushes to no server, takes half a second
// ahead, "plays" once started, in real time or as many times faster as
// asked, and logs what it was given, in what format, and how often it was
// halted, for the test to read from its own thread. It keeps each segment's
// samples, and what a listener would have heard: each segment up to its
// halt, then the engine's fade from there.
class FakeOutput : public AudioOutput {
public:
    struct Write {
        int rate;
        int channels;
        std::size_t frames;
    };

    struct Log {
        std::mutex mutex;
        std::vector<Write> writes;
        int halts = 0;
        // Each segment's samples as written, and the frame each halt
        // returned; what was heard, all segments one after another.
        std::vector<std::vector<std::int16_t>> segments;
        std::vector<std::int64_t> resumes;
        std::vector<std::int16_t> heard;

        std::vector<Write> copy()
        {
            const std::lock_guard lock(mutex);
            return writes;
        }
        int haltCount()
        {
            const std::lock_guard lock(mutex);
            return halts;
        }
    };

    explicit FakeOutput(std::shared_ptr<Log> log, double speed = 1.0) : log_(std::move(log)), speed_(speed) {}

    const char* name() const override { return "fake output"; }
    bool prepare(int rate, int channels, std::string& /*error*/) override
    {
        rate_ = rate;
        channels_ = channels;
        open_ = true;
        newSegment(0);
        return true;
    }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }
    bool lost() const override { return false; }

    std::size_t writable() override
    {
        const std::int64_t queued = written_ - heardFrames();
        return static_cast<std::size_t>(std::max<std::int64_t>(0, rate_ / 2 - queued));
    }
    void write(const std::int16_t* samples, std::size_t frames) override
    {
        if (halted_)
            newSegment(0);
        written_ += static_cast<std::int64_t>(frames);
        const std::lock_guard lock(log_->mutex);
        log_->writes.push_back({rate_, channels_, frames});
        if (log_->segments.empty() || segmentBegins_) {
            log_->segments.emplace_back();
            segmentBegins_ = false;
        }
        log_->segments.back().insert(log_->segments.back().end(), samples,
                                     samples + frames * static_cast<std::size_t>(channels_));
    }
    void endOfData() override {}
    void start() override
    {
        if (halted_)
            newSegment(0);
        startedAt_ = std::chrono::steady_clock::now();
        started_ = true;
    }
    std::int64_t halt(const HaltFade& fade) override
    {
        const std::int64_t heard = heardFrames();
        started_ = false;
        halted_ = true;
        heardBefore_ = heard;
        std::vector<std::int16_t> faded(static_cast<std::size_t>(fade.frames() * channels_));
        const std::int64_t fading = fade.render(heard, faded.data(), fade.frames()).value_or(0);
        const std::lock_guard lock(log_->mutex);
        ++log_->halts;
        if (!log_->segments.empty() && !segmentBegins_) {
            const auto& segment = log_->segments.back();
            const auto end = static_cast<std::ptrdiff_t>(heard * channels_);
            log_->heard.insert(log_->heard.end(), segment.begin(), segment.begin() + end);
            log_->heard.insert(log_->heard.end(), faded.begin(), faded.begin() + fading * channels_);
            log_->resumes.push_back(heard);
        }
        segmentBegins_ = true;
        return heard;
    }
    std::int64_t heardFrames() override
    {
        if (!started_)
            return heardBefore_;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count();
        return std::min(written_, static_cast<std::int64_t>(elapsed * rate_ * speed_));
    }
    std::chrono::milliseconds keptForFade() const override { return std::chrono::milliseconds(500); }
    std::chrono::milliseconds refillPeriod() const override { return std::chrono::milliseconds(50); }

private:
    void newSegment(std::int64_t heard)
    {
        written_ = 0;
        heardBefore_ = heard;
        started_ = false;
        halted_ = false;
        segmentBegins_ = true;
    }

    std::shared_ptr<Log> log_;
    double speed_;
    int rate_ = 0;
    int channels_ = 0;
    bool open_ = false;
    bool started_ = false;
    bool halted_ = false;
    bool segmentBegins_ = true;
    std::int64_t written_ = 0;
    std::int64_t heardBefore_ = 0;
    std::chrono::steady_clock::time_point startedAt_;
};
