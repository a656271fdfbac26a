// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stop_token>

#include "decode/audioregion.h"
#include "platform/regularfile.h"

// How long the MPEG audio in a file is, found from a few small reads however
// large the file.
struct LengthEstimate {
    enum class Basis {
        XingFrame,       // counted by a Xing or Info frame
        VbriFrame,       // counted by a VBRI frame
        EveryFrame,      // a small file, its frames counted one by one
        ConstantBitrate, // frames all over the file at one bitrate: the size gives it
        SampledFrames,   // the frames per byte in windows all over the file
        NoFrames,        // no frames were found
    };

    Basis basis = Basis::NoFrames;
    // MPEG frames, and samples per channel.
    std::int64_t frames = 0;
    std::int64_t samples = 0;
    // Where the frames are, when any were found.
    AudioRegion audio;
    // Where each hundredth of the time starts, in 256ths of the audio's
    // bytes, when a Xing frame tells.
    std::optional<std::array<std::uint8_t, 100>> toc;
};

// Nothing once `cancel` is requested: every read checks it first.
std::optional<LengthEstimate> estimateLength(const RegularFile& file, const std::stop_token& cancel);

// The byte where the given share of the audio's time about starts: by the
// table of contents where there is one, else by the same share of the bytes.
std::int64_t placeOfShare(const LengthEstimate& length, double share);
