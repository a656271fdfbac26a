// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

// What the engine's thread plays from: an opened file, decoded to interleaved
// signed 16-bit samples at its own rate and channel count.
class SampleSource {
public:
    SampleSource() = default;
    SampleSource(const SampleSource&) = delete;
    SampleSource& operator=(const SampleSource&) = delete;
    virtual ~SampleSource() = default;

    virtual int rate() const = 0;
    virtual int channels() const = 0;
    virtual std::int64_t lengthFrames() const = 0;

    // Up to `maxSamples` samples; `ended` is set once nothing more can come.
    virtual std::size_t read(std::int16_t* out, std::size_t maxSamples, bool& ended) = 0;
    virtual bool seekToFrame(std::int64_t frame) = 0;
};

// Opens a file to play, or returns nullptr and says why; gives up as soon as
// `cancel` is requested.
using SourceOpener =
    std::function<std::unique_ptr<SampleSource>(const std::string& path, std::string& error, std::stop_token cancel)>;
