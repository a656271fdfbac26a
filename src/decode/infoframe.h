// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "decode/mpegframeheader.h"

// What an encoder wrote into the first frame of a stream about the whole of
// it: a Xing frame (called Info in a constant-bitrate file, and carrying the
// LAME tag when LAME wrote it) or a Fraunhofer VBRI frame.
struct InfoFrame {
    enum class Kind { Xing, Vbri };

    Kind kind = Kind::Xing;
    // Audio frames in the stream, not counting this one.
    std::optional<std::int64_t> frames;
    // Bytes in the stream, this frame included.
    std::optional<std::int64_t> bytes;
    // Where each hundredth of the stream's time starts, in 256ths of its
    // bytes: a Xing frame's table of contents.
    std::optional<std::array<std::uint8_t, 100>> toc;
};

// Reads the info frame from the bytes of the first frame, whose header is
// given, or nothing when it is an ordinary audio frame.
std::optional<InfoFrame> readInfoFrame(std::span<const std::uint8_t> frame, const MpegFrameHeader& header);
