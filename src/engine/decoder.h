#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <utility>

#include "engine/samplesource.h"
#include "platform/regularfile.h"

struct mpg123_handle_struct;

// An open MP3 file decoded by libmpg123 to interleaved signed 16-bit samples
// at the file's own rate and channel count.
class Decoder final : public SampleSource {
public:
    ~Decoder() override;

    // Opens and identifies the file. Only regular files are opened, without
    // blocking. Returns nullptr and sets `error` when the file cannot be
    // played. Scans the frame headers for the exact length.
    static std::unique_ptr<Decoder> open(const std::string& path, std::string& error, std::stop_token cancel = {});

    int rate() const override { return rate_; }
    int channels() const override { return channels_; }
    std::int64_t lengthFrames() const override { return lengthFrames_; }

    // Decodes up to `maxSamples` samples (whole frames). `ended` is set once
    // nothing more can be decoded. Where the file goes on in another format,
    // a read returns nothing and the format changes to the new one.
    std::size_t read(std::int16_t* out, std::size_t maxSamples, bool& ended) override;

    bool seekToFrame(std::int64_t frame) override;

private:
    struct HandleDeleter {
        void operator()(mpg123_handle_struct* handle) const;
    };

    explicit Decoder(RegularFile file) : file_(std::move(file)) {}

    // Declared before the handle, so the handle is closed first.
    RegularFile file_;
    std::unique_ptr<mpg123_handle_struct, HandleDeleter> handle_;
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t lengthFrames_ = 0;
};
