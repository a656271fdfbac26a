// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The four bytes that start every MPEG audio frame, decoded into what it takes
// to find the next frame and to count samples.
struct MpegFrameHeader {
    enum class Version { Mpeg1, Mpeg2, Mpeg25 };

    Version version = Version::Mpeg1;
    int layer = 3;
    int bitrateKbps = 0;
    int sampleRate = 0;
    bool padded = false;
    bool mono = false;

    // The whole frame, header included.
    int frameBytes() const;
    // The frame's length averaged over padding: exact for a run of frames
    // at this bitrate.
    double meanFrameBytes() const;
    int samplesPerFrame() const;
    // Bytes of layer III side information after the header.
    int sideInfoBytes() const;
    // Whether a frame with this header can follow `other` in one stream.
    bool continues(const MpegFrameHeader& other) const;
};

// Decodes the header at the start of `bytes`. Free-format and reserved
// values are refused.
std::optional<MpegFrameHeader> parseMpegFrameHeader(std::span<const std::uint8_t> bytes);

struct MpegFrameAt {
    std::size_t offset = 0;
    MpegFrameHeader header;
};

// The first frame in `bytes` of the stream `like` (of any stream if null)
// that another frame of the stream follows. A frame that starts the bytes
// and runs to their end needs no follower when `endsStream`: the whole
// stream is that one frame.
std::optional<MpegFrameAt> findMpegFrame(std::span<const std::uint8_t> bytes, const MpegFrameHeader* like,
                                         bool endsStream);
