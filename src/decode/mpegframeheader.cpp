// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/mpegframeheader.h"

#include <array>

namespace {

// Kilobits per second by [MPEG-1 or not][layer - 1][bitrate index]; index 0
// is free format, 15 is reserved.
constexpr std::array<std::array<std::array<int, 15>, 3>, 2> bitrates{{
    {{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    }},
    {{
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    }},
}};

constexpr std::array<int, 3> mpeg1Rates{44100, 48000, 32000};

// Bytes per frame for each kilobit per second and hertz: a layer I frame
// counts in four-byte slots.
double bytesFactor(const MpegFrameHeader& header)
{
    if (header.layer == 1)
        return 48000.0;
    if (header.layer == 3 && header.version != MpegFrameHeader::Version::Mpeg1)
        return 72000.0;
    return 144000.0;
}

} // namespace

int MpegFrameHeader::frameBytes() const
{
    if (layer == 1)
        return (12000 * bitrateKbps / sampleRate + (padded ? 1 : 0)) * 4;
    return static_cast<int>(bytesFactor(*this)) * bitrateKbps / sampleRate + (padded ? 1 : 0);
}

double MpegFrameHeader::meanFrameBytes() const
{
    return bytesFactor(*this) * bitrateKbps / sampleRate;
}

int MpegFrameHeader::samplesPerFrame() const
{
    if (layer == 1)
        return 384;
    if (layer == 3 && version != Version::Mpeg1)
        return 576;
    return 1152;
}

int MpegFrameHeader::sideInfoBytes() const
{
    if (version == Version::Mpeg1)
        return mono ? 17 : 32;
    return mono ? 9 : 17;
}

bool MpegFrameHeader::continues(const MpegFrameHeader& other) const
{
    return version == other.version && layer == other.layer && sampleRate == other.sampleRate;
}

std::optional<MpegFrameHeader> parseMpegFrameHeader(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (bytes[1] >> 3) & 3;
    const int layerBits = (bytes[1] >> 1) & 3;
    const int bitrateIndex = bytes[2] >> 4;
    const int rateIndex = (bytes[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;

    MpegFrameHeader header;
    header.version = versionBits == 3   ? MpegFrameHeader::Version::Mpeg1
                     : versionBits == 2 ? MpegFrameHeader::Version::Mpeg2
                                        : MpegFrameHeader::Version::Mpeg25;
    header.layer = 4 - layerBits;
    const bool mpeg1 = header.version == MpegFrameHeader::Version::Mpeg1;
    header.bitrateKbps = bitrates[mpeg1 ? 0 : 1][static_cast<std::size_t>(header.layer - 1)]
                                 [static_cast<std::size_t>(bitrateIndex)];
    const int divisor = mpeg1 ? 1 : header.version == MpegFrameHeader::Version::Mpeg2 ? 2 : 4;
    header.sampleRate = mpeg1Rates[static_cast<std::size_t>(rateIndex)] / divisor;
    header.padded = (bytes[2] & 0x02) != 0;
    header.mono = (bytes[3] >> 6) == 3;
    return header;
}

std::optional<MpegFrameAt> findMpegFrame(std::span<const std::uint8_t> bytes, const MpegFrameHeader* like,
                                         bool endsStream)
{
    for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
        const std::optional<MpegFrameHeader> header = parseMpegFrameHeader(bytes.subspan(at));
        if (!header || (like && !header->continues(*like)))
            continue;
        const std::size_t next = at + static_cast<std::size_t>(header->frameBytes());
        if (next + 4 <= bytes.size()) {
            const std::optional<MpegFrameHeader> following = parseMpegFrameHeader(bytes.subspan(next));
            if (following && following->continues(*header))
                return MpegFrameAt{at, *header};
        } else if (endsStream && at == 0) {
            return MpegFrameAt{at, *header};
        }
    }
    return std::nullopt;
}
