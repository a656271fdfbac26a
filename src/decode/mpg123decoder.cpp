// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/mpg123decoder.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <mpg123.h>

#include "decode/decodelog.h"
#include "decode/lengthestimate.h"
#include "decode/mpegframeheader.h"

Mpg123Decoder::~Mpg123Decoder() = default;

namespace {

// Reading the frame headers this far beyond what was decoded is quick.
constexpr int seekReachSeconds = 30;
// A jump looks for a frame this far from where it lands.
constexpr std::size_t jumpSearchBytes = std::size_t{64} * 1024;

// Accept any rate libmpg123 knows, mono or stereo, as 16-bit samples.
bool allowSigned16(mpg123_handle* handle, std::string& error)
{
    if (mpg123_format_none(handle) != MPG123_OK) {
        error = std::string("libmpg123 cannot clear its output formats: ") + mpg123_strerror(handle);
        return false;
    }
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i) {
        if (mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) {
            error = "libmpg123 refuses 16-bit samples at " + std::to_string(rates[i])
                    + " Hz: " + mpg123_strerror(handle);
            return false;
        }
    }
    return true;
}

// libmpg123 reads a Xing frame too, and takes off the encoder's delay and
// padding that a LAME tag in it gives. Where nothing was found, its own guess
// from the first frame's bitrate is all there is.
std::int64_t lengthInSamples(mpg123_handle* handle, const LengthEstimate& length)
{
    if (length.basis == LengthEstimate::Basis::XingFrame || length.basis == LengthEstimate::Basis::NoFrames) {
        const off_t decoded = mpg123_length(handle);
        if (decoded > 0) {
            qCDebug(decodeLog) << "libmpg123 gives the length:" << decoded << "sample frames";
            return decoded;
        }
    }
    return length.samples;
}

} // namespace

std::unique_ptr<Mpg123Decoder> Mpg123Decoder::open(const std::string& path, std::string& error,
                                                   const std::stop_token& cancel)
{
    std::unique_ptr<Mpg123Decoder> decoder = openFile(path, error, cancel);
    if (decoder) {
        qCDebug(decodeLog) << "opened" << path.c_str() << "at" << decoder->rate_ << "Hz," << decoder->channels_
                           << "channels," << decoder->lengthFrames_ << "sample frames";
    } else {
        qCDebug(decodeLog).nospace() << "refused " << path.c_str() << ": " << error.c_str();
    }
    return decoder;
}

std::unique_ptr<Mpg123Decoder> Mpg123Decoder::openFile(const std::string& path, std::string& error,
                                                       const std::stop_token& cancel)
{
    const std::string cancelled = "cancelled";
    if (cancel.stop_requested()) {
        error = cancelled;
        return nullptr;
    }
    std::optional<RegularFile> file = RegularFile::open(path, error);
    if (!file)
        return nullptr;
    // Every read of the open checks for a stop before it begins.
    file->cancelReadsOn(cancel);
    const std::optional<LengthEstimate> length = estimateLength(*file, cancel);
    if (!length || cancel.stop_requested()) {
        error = cancelled;
        return nullptr;
    }

    long flags = 0;
    // A frame is only taken for one when the next confirms it; a stream of
    // one frame has nothing to confirm it by.
    if (length->basis == LengthEstimate::Basis::EveryFrame && length->frames == 1)
        flags |= MPG123_NO_READAHEAD;
    std::unique_ptr<Mpg123Decoder> decoder(new Mpg123Decoder(std::move(*file), *length, flags));
    const bool started = decoder->startStreamAt(0, 0, error);
    if (cancel.stop_requested()) {
        error = cancelled;
        return nullptr;
    }
    if (!started)
        return nullptr;
    decoder->lengthFrames_ = lengthInSamples(decoder->handle_.get(), *length);
    // Open: it plays on, whatever is asked of the open now.
    decoder->file_.cancelReadsOn({});
    return decoder;
}

bool Mpg123Decoder::startStreamAt(std::int64_t offset, std::int64_t frame, std::string& error)
{
    // Made before the handle, so the handle is closed first.
    auto stream = std::make_unique<FileStream>(file_, offset);
    Mpg123Handle handle = makeMpg123Handle(flags_, error);
    // Each part of a file joined from parts in other formats comes in its own.
    if (!handle || !allowSigned16(handle.get(), error) || !stream->openIn(handle.get(), error))
        return false;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handle.get(), &rate, &channels, &encoding) != MPG123_OK) {
        qCDebug(decodeLog) << "libmpg123 finds no format from byte" << offset << "on:" << mpg123_strerror(handle.get())
                           << stream->lastError().c_str();
        error = "not MPEG audio (it holds no MPEG audio frames)";
        return false;
    }
    handle_ = std::move(handle);
    stream_ = std::move(stream);
    rate_ = static_cast<int>(rate);
    channels_ = channels;
    streamStartFrame_ = frame;
    decodedFrames_ = 0;
    return true;
}

std::size_t Mpg123Decoder::read(std::int16_t* out, std::size_t maxSamples, bool& ended)
{
    maxSamples -= maxSamples % static_cast<std::size_t>(channels_);
    std::size_t bytes = 0;
    const int status = mpg123_read(handle_.get(), out, maxSamples * sizeof(std::int16_t), &bytes);
    // Any other status but OK means nothing more can be decoded.
    ended = status != MPG123_OK && status != MPG123_NEW_FORMAT;
    // A part in another format comes at its own rate and channel count, from
    // the next read on; what this one gave is still in the old format.
    if (status == MPG123_NEW_FORMAT) {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(handle_.get(), &rate, &channels, &encoding) == MPG123_OK) {
            qCDebug(decodeLog) << "the stream goes on at" << rate << "Hz," << channels << "channels";
            rate_ = static_cast<int>(rate);
            channels_ = channels;
        } else {
            qCDebug(decodeLog) << "the stream's new format cannot be told:" << mpg123_strerror(handle_.get());
            ended = true;
        }
    } else if (ended && status != MPG123_DONE) {
        qCDebug(decodeLog) << "decoding ended on an error:" << mpg123_strerror(handle_.get())
                           << stream_->lastError().c_str();
    }
    decodedFrames_ = std::max<std::int64_t>(decodedFrames_, mpg123_tell(handle_.get()));
    return bytes / sizeof(std::int16_t);
}

bool Mpg123Decoder::seekToFrame(std::int64_t frame)
{
    const std::int64_t reach = std::int64_t{rate_} * seekReachSeconds;
    const bool behind = frame < streamStartFrame_;
    const bool far = behind ? frame > reach : frame - streamStartFrame_ > decodedFrames_ + reach;
    if (far && jumpTo(frame))
        return true;
    // Near, or with no frame found to jump to: libmpg123 reads up to it.
    qCDebug(decodeLog) << "seek to sample frame" << frame << "by reading up to it from sample frame"
                       << (behind ? 0 : streamStartFrame_);
    std::string error;
    if (behind && !startStreamAt(0, 0, error)) {
        qCDebug(decodeLog) << "restarting the stream failed:" << error.c_str();
        return false;
    }
    return mpg123_seek(handle_.get(), static_cast<off_t>(frame - streamStartFrame_), SEEK_SET) >= 0;
}

bool Mpg123Decoder::jumpTo(std::int64_t frame)
{
    if (lengthFrames_ <= 0 || length_.audio.bytes() <= 0)
        return false;
    const std::int64_t lands =
        placeOfShare(length_, static_cast<double>(frame) / static_cast<double>(lengthFrames_));
    std::vector<std::uint8_t> bytes(jumpSearchBytes);
    std::string error;
    const std::optional<std::size_t> got = file_.readAt(bytes.data(), bytes.size(), lands, error);
    if (!got)
        qCDebug(decodeLog) << "reading at byte" << lands << "to jump to failed:" << error.c_str();
    bytes.resize(got.value_or(0));
    const std::optional<MpegFrameAt> found = findMpegFrame(bytes, nullptr, false);
    if (!found) {
        qCDebug(decodeLog) << "no frame to jump to near byte" << lands;
        return false;
    }
    const std::int64_t offset = lands + static_cast<std::int64_t>(found->offset);
    qCDebug(decodeLog) << "seek to sample frame" << frame << "by a jump to the frame at byte" << offset << "placed by"
                       << (length_.toc ? "the table of contents" : "its share of the bytes");
    if (!startStreamAt(offset, frame, error)) {
        qCDebug(decodeLog) << "the jump failed:" << error.c_str();
        return false;
    }
    return true;
}
