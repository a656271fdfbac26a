// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/lengthestimate.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <span>
#include <vector>

#include "decode/audioregion.h"
#include "decode/decodelog.h"
#include "decode/infoframe.h"
#include "decode/mpegframeheader.h"

namespace {

// The first frame is looked for this far into the audio region.
constexpr std::int64_t firstFrameSearchBytes = std::int64_t{64} * 1024;
// Windows spread over the file: a few tell a constant bitrate, and many
// more tell the frames per byte of a variable one, to a tenth of a percent
// or so.
constexpr int constantBitrateWindows = 32;
constexpr int variableBitrateWindows = 256;
constexpr std::int64_t windowBytes = std::int64_t{32} * 1024;
// Up to this size, counting every frame reads no more than sampling would.
constexpr std::int64_t countEveryFrameUpToBytes = variableBitrateWindows * windowBytes;
// Counting every frame reads this much at a time, checking for a stop
// between reads.
constexpr std::int64_t countingChunkBytes = std::int64_t{1024} * 1024;
// A layer II frame at 160 kbit/s and 8 kHz, with padding.
constexpr std::int64_t largestFrameBytes = 2881;
// An info frame is believed when its byte count is this close to the file's.
constexpr double infoFrameBytesTolerance = 0.01;

const char* basisName(LengthEstimate::Basis basis)
{
    switch (basis) {
    case LengthEstimate::Basis::XingFrame:
        return "a Xing or Info frame";
    case LengthEstimate::Basis::VbriFrame:
        return "a VBRI frame";
    case LengthEstimate::Basis::EveryFrame:
        return "every frame counted";
    case LengthEstimate::Basis::ConstantBitrate:
        return "the size at a constant bitrate";
    case LengthEstimate::Basis::SampledFrames:
        return "the frames per byte in windows";
    case LengthEstimate::Basis::NoFrames:
        break;
    }
    return "nothing (no frames were found)";
}

// Reads into `buffer`, grown as needed and kept for the next read; the
// bytes read, which are fewer only at the end or on an error.
std::span<const std::uint8_t> readBytes(const RegularFile& file, std::int64_t offset, std::int64_t size,
                                        std::vector<std::uint8_t>& buffer)
{
    const auto wanted = static_cast<std::size_t>(size);
    if (buffer.size() < wanted)
        buffer.resize(wanted);
    std::string error;
    const std::optional<std::size_t> got = file.readAt(buffer.data(), wanted, offset, error);
    if (!got)
        qCDebug(decodeLog) << "reading" << size << "bytes at byte" << offset << "failed:" << error.c_str();
    return {buffer.data(), got.value_or(0)};
}

struct FrameTally {
    std::int64_t frames = 0;
    // The bytes the frames were counted in.
    std::int64_t bytes = 0;
    bool oneBitrate = true;
    // Whether something other than frames, such as the tag of a joined
    // file, was in those bytes.
    bool gaps = false;
};

// Counts the frames of the stream that follow one another from `at` and
// start before `until`; one cut short by the end of `bytes` is counted as the
// stream's last. Returns where the count stopped.
std::size_t countFrames(std::span<const std::uint8_t> bytes, std::size_t at, const MpegFrameHeader& stream,
                        std::size_t until, FrameTally& tally)
{
    while (at < until && at + 4 <= bytes.size()) {
        const std::optional<MpegFrameHeader> header = parseMpegFrameHeader(bytes.subspan(at));
        if (!header || !header->continues(stream))
            break;
        ++tally.frames;
        tally.oneBitrate = tally.oneBitrate && header->bitrateKbps == stream.bitrateKbps;
        at += static_cast<std::size_t>(header->frameBytes());
    }
    return at;
}

// Counts the frames that start from `at` up to `until`, finding the stream
// again after anything that breaks it. Returns where the last frame counted
// ends, or `until` when no frame follows a break.
std::size_t countFramesAcrossGaps(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t until,
                                  const MpegFrameHeader& stream, FrameTally& tally)
{
    for (;;) {
        at = countFrames(bytes, at, stream, until, tally);
        if (at >= until || at + 4 > bytes.size())
            return at;
        tally.gaps = true;
        const std::optional<MpegFrameAt> next = findMpegFrame(bytes.subspan(at + 1), &stream, false);
        if (!next)
            return until;
        at += 1 + next->offset;
    }
}

LengthEstimate fromFrameCount(LengthEstimate::Basis basis, std::int64_t frames, const MpegFrameHeader& header)
{
    LengthEstimate estimate;
    estimate.basis = basis;
    estimate.frames = frames;
    estimate.samples = frames * header.samplesPerFrame();
    return estimate;
}

std::optional<LengthEstimate> countEveryFrame(const RegularFile& file, const AudioRegion& audio,
                                              const MpegFrameHeader& first, const std::stop_token& cancel)
{
    FrameTally tally;
    std::vector<std::uint8_t> buffer;
    std::int64_t offset = audio.begin;
    while (offset < audio.end) {
        if (cancel.stop_requested())
            return std::nullopt;
        const std::int64_t chunk = std::min(countingChunkBytes, audio.end - offset);
        // Room to follow the frame that crosses the chunk's end, and to
        // confirm it by the next.
        const std::span<const std::uint8_t> bytes =
            readBytes(file, offset, std::min(chunk + 2 * largestFrameBytes, audio.end - offset), buffer);
        const std::size_t counted = countFramesAcrossGaps(bytes, 0, static_cast<std::size_t>(chunk), first, tally);
        // Nothing counted: too few bytes left for a frame header.
        if (counted == 0)
            break;
        offset += static_cast<std::int64_t>(counted);
    }
    return fromFrameCount(LengthEstimate::Basis::EveryFrame, tally.frames, first);
}

// Counts the frames in windows spread over the audio, for the frames per
// byte. A window runs from the first frame after its place to the end of the
// frame that crosses its size, so that it holds whole frames: counting only
// the frames that start in it would be off by up to one either way. Its
// size, not its number of frames, is fixed, or places where frames are large
// would weigh more. Each window lies somewhere in its own share of the
// audio, so that parts repeated at even steps, as in joined files, are not
// always met at the same point.
std::optional<FrameTally> countInWindows(const RegularFile& file, const AudioRegion& audio,
                                         const MpegFrameHeader& first, int windows, const std::stop_token& cancel)
{
    FrameTally total;
    std::vector<std::uint8_t> buffer;
    std::minstd_rand places;
    const std::int64_t share = audio.bytes() / windows;
    for (int window = 0; window < windows; ++window) {
        if (cancel.stop_requested())
            return std::nullopt;
        const std::int64_t offset = audio.begin + audio.bytes() * window / windows
                                    + static_cast<std::int64_t>(places() % static_cast<std::uint64_t>(share + 1));
        const auto size = static_cast<std::size_t>(std::min(windowBytes, audio.end - offset));
        // Room to follow the frame that crosses the window's end, and to
        // confirm it by the next.
        const std::int64_t readSize =
            std::min(static_cast<std::int64_t>(size) + 2 * largestFrameBytes, audio.end - offset);
        const std::span<const std::uint8_t> bytes = readBytes(file, offset, readSize, buffer);
        const std::optional<MpegFrameAt> start = findMpegFrame(bytes, &first, offset + readSize == audio.end);
        if (!start || start->offset >= size) {
            total.bytes += static_cast<std::int64_t>(size);
            total.gaps = true;
            continue;
        }
        // Among frames, the next one starts within a frame's length: any
        // further, and what comes before it holds no frames.
        const bool gapFirst = start->offset >= static_cast<std::size_t>(largestFrameBytes);
        total.gaps = total.gaps || gapFirst;
        const std::size_t end = countFramesAcrossGaps(bytes, start->offset, size, first, total);
        total.bytes += static_cast<std::int64_t>(end - (gapFirst ? 0 : start->offset));
    }
    return total;
}

LengthEstimate fromMeanFrameBytes(LengthEstimate::Basis basis, const AudioRegion& audio, double meanFrameBytes,
                                  const MpegFrameHeader& header)
{
    return fromFrameCount(basis, std::llround(static_cast<double>(audio.bytes()) / meanFrameBytes), header);
}

// The frame count of an info frame that speaks for the whole file. One whose
// byte count falls short speaks only for the first of files joined together.
std::optional<LengthEstimate> fromInfoFrame(const InfoFrame& info, std::int64_t bytesFromIt,
                                            const MpegFrameHeader& header)
{
    if (!info.frames) {
        qCDebug(decodeLog) << "the info frame gives no frame count";
        return std::nullopt;
    }
    if (info.bytes) {
        const auto difference = static_cast<double>(std::abs(bytesFromIt - *info.bytes));
        if (difference > infoFrameBytesTolerance * static_cast<double>(bytesFromIt)) {
            qCDebug(decodeLog) << "the info frame counts" << *info.bytes << "bytes, the file holds" << bytesFromIt
                               << "from it: it speaks for a first part only";
            return std::nullopt;
        }
    }
    const auto basis = info.kind == InfoFrame::Kind::Xing ? LengthEstimate::Basis::XingFrame
                                                          : LengthEstimate::Basis::VbriFrame;
    LengthEstimate estimate = fromFrameCount(basis, *info.frames, header);
    estimate.toc = info.toc;
    return estimate;
}

// Measures the length, and sets `audio` to where the frames are.
std::optional<LengthEstimate> measure(const RegularFile& file, const std::stop_token& cancel, AudioRegion& audio)
{
    if (cancel.stop_requested())
        return std::nullopt;
    std::string error;
    std::optional<AudioRegion> region = findAudioRegion(file, error);
    if (!region) {
        qCDebug(decodeLog) << "the file's size cannot be told:" << error.c_str();
        return LengthEstimate{};
    }

    const std::int64_t searched = std::min(firstFrameSearchBytes, region->bytes());
    std::vector<std::uint8_t> buffer;
    const std::span<const std::uint8_t> start = readBytes(file, region->begin, searched, buffer);
    const std::optional<MpegFrameAt> first = findMpegFrame(start, nullptr, searched == region->bytes());
    if (!first) {
        qCDebug(decodeLog) << "no MPEG frame in the" << start.size() << "bytes from byte" << region->begin;
        return LengthEstimate{};
    }
    const MpegFrameHeader& header = first->header;
    audio = {region->begin + static_cast<std::int64_t>(first->offset), region->end};

    const std::span<const std::uint8_t> firstFrame = start.subspan(first->offset);
    if (const std::optional<InfoFrame> info = readInfoFrame(firstFrame, header)) {
        if (std::optional<LengthEstimate> counted = fromInfoFrame(*info, audio.bytes(), header))
            return counted;
        // Not counted by it: its own frame holds no audio.
        audio.begin += header.frameBytes();
    }

    if (audio.bytes() <= countEveryFrameUpToBytes)
        return countEveryFrame(file, audio, header, cancel);
    const std::optional<FrameTally> few = countInWindows(file, audio, header, constantBitrateWindows, cancel);
    if (!few)
        return std::nullopt;
    if (few->frames > 0 && few->oneBitrate && !few->gaps)
        return fromMeanFrameBytes(LengthEstimate::Basis::ConstantBitrate, audio, header.meanFrameBytes(), header);
    qCDebug(decodeLog) << constantBitrateWindows << "windows found" << few->frames << "frames,"
                       << (few->oneBitrate ? "at one bitrate," : "at more than one bitrate,")
                       << (few->gaps ? "with gaps:" : "without gaps:") << "more windows are counted";
    const std::optional<FrameTally> many = countInWindows(file, audio, header, variableBitrateWindows, cancel);
    if (!many)
        return std::nullopt;
    if (many->frames == 0)
        return LengthEstimate{};
    return fromMeanFrameBytes(LengthEstimate::Basis::SampledFrames, audio,
                              static_cast<double>(many->bytes) / static_cast<double>(many->frames), header);
}

} // namespace

std::optional<LengthEstimate> estimateLength(const RegularFile& file, const std::stop_token& cancel)
{
    AudioRegion audio;
    std::optional<LengthEstimate> estimate = measure(file, cancel, audio);
    if (!estimate)
        return std::nullopt;
    estimate->audio = audio;
    qCDebug(decodeLog).nospace() << "length by " << basisName(estimate->basis) << ": " << estimate->frames
                                 << " frames, " << estimate->samples << " samples, the audio from byte " << audio.begin
                                 << " to " << audio.end;
    return estimate;
}

std::int64_t placeOfShare(const LengthEstimate& length, double share)
{
    share = std::clamp(share, 0.0, 1.0);
    double byteShare = share;
    if (length.toc) {
        // Between two entries, as if the bytes went evenly.
        const double hundredths = share * 100.0;
        const auto entry = std::min<std::size_t>(static_cast<std::size_t>(hundredths), 99);
        const double from = (*length.toc)[entry];
        const double to = entry < 99 ? (*length.toc)[entry + 1] : 256.0;
        byteShare = (from + (to - from) * (hundredths - static_cast<double>(entry))) / 256.0;
    }
    return length.audio.begin + static_cast<std::int64_t>(byteShare * static_cast<double>(length.audio.bytes()));
}
