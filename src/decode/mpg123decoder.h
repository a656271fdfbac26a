// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <utility>

#include "decode/filestream.h"
#include "decode/lengthestimate.h"
#include "decode/mpg123handle.h"
#include "decode/samplesource.h"
#include "platform/regularfile.h"

// An open MP3 file decoded by libmpg123 to interleaved signed 16-bit samples
// at the file's own rate and channel count.
class Mpg123Decoder final : public SampleSource {
public:
    ~Mpg123Decoder() override;

    // Opens and identifies the file. Only regular files are opened, without
    // blocking, and only a few small parts of a large file are read. Returns
    // nullptr and sets `error` when the file cannot be played, or as soon as
    // `cancel` is requested.
    static std::unique_ptr<Mpg123Decoder> open(const std::string& path, std::string& error,
                                               const std::stop_token& cancel = {});

    int rate() const override { return rate_; }
    int channels() const override { return channels_; }
    // Exact for a file with a Xing, Info or VBRI frame and for a constant
    // bitrate; estimated from a sample of frames for a variable one.
    std::int64_t lengthFrames() const override { return lengthFrames_; }

    // Decodes up to `maxSamples` samples (whole frames). `ended` is set once
    // nothing more can be decoded. Where the file goes on in another format,
    // the read stops there and the format changes to the new one.
    std::size_t read(std::int16_t* out, std::size_t maxSamples, bool& ended) override;

    // Sample-accurate within what has been decoded and a little beyond:
    // libmpg123's index of the frames decoded finds the place, and it reads
    // the frame headers from there. Further on, decoding starts afresh at the
    // frame where the place falls by a Xing frame's table of contents, or by
    // its share of the audio's bytes.
    bool seekToFrame(std::int64_t frame) override;

private:
    Mpg123Decoder(RegularFile file, const LengthEstimate& length, long flags)
        : file_(std::move(file)), length_(length), flags_(flags)
    {
    }

    // What open() does, before it logs what came of it.
    static std::unique_ptr<Mpg123Decoder> openFile(const std::string& path, std::string& error,
                                                   const std::stop_token& cancel);
    // Decodes afresh from the frame at byte `offset`, sample frame `frame`,
    // in the format found there; or returns false and sets `error`.
    bool startStreamAt(std::int64_t offset, std::int64_t frame, std::string& error);
    // Starts the stream at the frame nearest the place of `frame`.
    bool jumpTo(std::int64_t frame);

    RegularFile file_;
    // What was found of the frames on opening, to place a jump by.
    LengthEstimate length_;
    long flags_;
    // Declared before the handle, so the handle is closed first.
    std::unique_ptr<FileStream> stream_;
    Mpg123Handle handle_;
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t lengthFrames_ = 0;
    // The sample frame the stream starts at, guessed after a jump.
    std::int64_t streamStartFrame_ = 0;
    // How far into the stream decoding has come.
    std::int64_t decodedFrames_ = 0;
};
