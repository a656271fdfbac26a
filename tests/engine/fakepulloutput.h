// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "output/audiooutput.h"
#include "output/pullqueue.h"

// An output whose "server" pulls: a graph thread of its own takes a cycle of
// frames from a PullQueue in real time, as PipeWire's does, and keeps all it
// was given, silence between segments included, as a sink's recording
// would. It keeps each segment's samples as written, and the frame each halt
// returned, as FakeOutput does.
class FakePullOutput : public AudioOutput {
public:
    static constexpr std::int64_t cycleFrames = 128;

    struct Log {
        std::mutex mutex;
        std::vector<std::vector<std::int16_t>> segments;
        std::vector<std::int64_t> resumes;
        std::vector<std::int16_t> heard;
    };

    explicit FakePullOutput(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    ~FakePullOutput() override { close(); }

    const char* name() const override { return "fake pulling output"; }
    bool prepare(int rate, int channels, std::string& /*error*/) override
    {
        if (!graph_.joinable() || rate != rate_ || channels != channels_) {
            close();
            rate_ = rate;
            channels_ = channels;
            queue_.reset(channels, rate / 2);
            graph_ = std::jthread([this](const std::stop_token& stop) { runGraph(stop); });
        }
        queue_.stop();
        beginSegmentIfHalted();
        return true;
    }
    bool isOpen() const override { return graph_.joinable(); }
    void close() override
    {
        if (graph_.joinable()) {
            graph_.request_stop();
            graph_.join();
        }
        graph_ = {};
    }
    bool lost() const override { return false; }

    std::size_t writable() override
    {
        beginSegmentIfHalted();
        return static_cast<std::size_t>(queue_.writable());
    }
    void write(const std::int16_t* samples, std::size_t frames) override
    {
        beginSegmentIfHalted();
        const auto taken = std::min<std::int64_t>(static_cast<std::int64_t>(frames), queue_.writable());
        queue_.write(samples, taken);
        const std::lock_guard lock(log_->mutex);
        log_->segments.back().insert(log_->segments.back().end(), samples, samples + taken * channels_);
    }
    void endOfData() override { queue_.endOfData(); }
    void start() override
    {
        beginSegmentIfHalted();
        queue_.start();
    }
    std::int64_t halt(const HaltFade& fade) override
    {
        if (queue_.askHalt(fade.frames()) && !queue_.awaitHalt(std::chrono::seconds(1)))
            queue_.haltNow(queue_.read());
        const std::lock_guard lock(log_->mutex);
        if (!log_->segments.empty() && !log_->segments.back().empty())
            log_->resumes.push_back(queue_.haltedAt());
        return queue_.haltedAt();
    }
    std::int64_t heardFrames() override
    {
        switch (queue_.phase()) {
        case PullQueue::Halted:
            return queue_.haltedAt();
        case PullQueue::Idle:
            return 0;
        default:
            return queue_.ranDry() ? queue_.written() : queue_.read();
        }
    }
    std::chrono::milliseconds keptForFade() const override { return std::chrono::milliseconds(0); }
    std::chrono::milliseconds refillPeriod() const override { return std::chrono::milliseconds(50); }

private:
    void beginSegmentIfHalted()
    {
        if (!queue_.beginSegmentIfHalted())
            return;
        const std::lock_guard lock(log_->mutex);
        log_->segments.emplace_back();
    }

    void runGraph(const std::stop_token& stop)
    {
        std::vector<std::int16_t> cycle(static_cast<std::size_t>(cycleFrames * channels_));
        const auto period = std::chrono::microseconds(cycleFrames * 1'000'000 / rate_);
        auto next = std::chrono::steady_clock::now();
        while (!stop.stop_requested()) {
            queue_.pull(cycle.data(), cycleFrames);
            {
                const std::lock_guard lock(log_->mutex);
                log_->heard.insert(log_->heard.end(), cycle.begin(), cycle.end());
            }
            next += period;
            std::this_thread::sleep_until(next);
        }
    }

    std::shared_ptr<Log> log_;
    int rate_ = 0;
    int channels_ = 0;
    PullQueue queue_;
    std::jthread graph_;
};
