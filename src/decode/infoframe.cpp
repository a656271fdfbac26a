// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/infoframe.h"

#include <algorithm>

#include "decode/bytereaders.h"

namespace {

constexpr std::size_t frameHeaderBytes = 4;
// A VBRI frame has its tag after 32 bytes, whatever the side information.
constexpr std::size_t vbriOffset = frameHeaderBytes + 32;

std::optional<InfoFrame> readXing(std::span<const std::uint8_t> frame, std::size_t at)
{
    // Tag, flags, then the frame count, the byte count and the table of
    // contents where flagged.
    constexpr std::uint8_t hasFrames = 0x1;
    constexpr std::uint8_t hasBytes = 0x2;
    constexpr std::uint8_t hasToc = 0x4;
    if (frame.size() < at + 16)
        return std::nullopt;
    const std::uint8_t flags = frame[at + 7];
    InfoFrame info;
    std::size_t next = at + 8;
    if (flags & hasFrames) {
        info.frames = bigEndian32(frame, next);
        next += 4;
    }
    if (flags & hasBytes) {
        info.bytes = bigEndian32(frame, next);
        next += 4;
    }
    if ((flags & hasToc) && frame.size() >= next + 100) {
        info.toc.emplace();
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(next), 100, info.toc->begin());
    }
    return info;
}

std::optional<InfoFrame> readVbri(std::span<const std::uint8_t> frame)
{
    // Tag, version, delay and quality, then the byte and frame counts.
    if (frame.size() < vbriOffset + 18)
        return std::nullopt;
    InfoFrame info;
    info.kind = InfoFrame::Kind::Vbri;
    info.bytes = bigEndian32(frame, vbriOffset + 10);
    info.frames = bigEndian32(frame, vbriOffset + 14);
    return info;
}

} // namespace

std::optional<InfoFrame> readInfoFrame(std::span<const std::uint8_t> frame, const MpegFrameHeader& header)
{
    const std::size_t xingOffset = frameHeaderBytes + static_cast<std::size_t>(header.sideInfoBytes());
    if (header.layer == 3 && (tagAt(frame, xingOffset, "Xing") || tagAt(frame, xingOffset, "Info")))
        return readXing(frame, xingOffset);
    if (tagAt(frame, vbriOffset, "VBRI"))
        return readVbri(frame);
    return std::nullopt;
}
