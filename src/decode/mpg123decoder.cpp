#include "decode/mpg123decoder.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <mpg123.h>

#include "decode/lengthestimate.h"
#include "decode/mpegframeheader.h"

void Mpg123Decoder::HandleDeleter::operator()(mpg123_handle_struct* handle) const
{
    mpg123_close(handle);
    mpg123_delete(handle);
}

Mpg123Decoder::~Mpg123Decoder() = default;

namespace {

// Reading the frame headers this far beyond what was decoded is quick.
constexpr int seekReachSeconds = 30;
// A jump looks for a frame this far from where it lands.
constexpr std::size_t jumpSearchBytes = 64 * 1024;

// Accept any rate libmpg123 knows, mono or stereo, as 16-bit samples.
void allowSigned16(mpg123_handle* handle)
{
    mpg123_format_none(handle);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
}

// libmpg123 reads a Xing frame too, and takes off the encoder's delay and
// padding that a LAME tag in it gives. Where nothing was found, its own guess
// from the first frame's bitrate is all there is.
std::int64_t lengthInSamples(mpg123_handle* handle, const LengthEstimate& length)
{
    if (length.basis == LengthEstimate::Basis::XingFrame || length.basis == LengthEstimate::Basis::NoFrames) {
        const off_t decoded = mpg123_length(handle);
        if (decoded > 0)
            return decoded;
    }
    return length.samples;
}

} // namespace

std::unique_ptr<Mpg123Decoder> Mpg123Decoder::open(const std::string& path, std::string& error, std::stop_token cancel)
{
    const std::string cancelled = "cancelled";
    if (cancel.stop_requested()) {
        error = cancelled;
        return nullptr;
    }
    std::optional<RegularFile> file = RegularFile::open(path, error);
    if (!file)
        return nullptr;
    const std::optional<LengthEstimate> length = estimateLength(*file, cancel);
    if (!length) {
        error = cancelled;
        return nullptr;
    }

    long flags = MPG123_QUIET;
    // A frame is only taken for one when the next confirms it; a stream of
    // one frame has nothing to confirm it by.
    if (length->basis == LengthEstimate::Basis::EveryFrame && length->frames == 1)
        flags |= MPG123_NO_READAHEAD;
    std::unique_ptr<Mpg123Decoder> decoder(new Mpg123Decoder(std::move(*file), *length, flags));
    if (!decoder->startStreamAt(0, 0)) {
        error = "not MPEG audio (it holds no MPEG audio frames)";
        return nullptr;
    }
    decoder->lengthFrames_ = lengthInSamples(decoder->handle_.get(), *length);
    return decoder;
}

bool Mpg123Decoder::startStreamAt(std::int64_t offset, std::int64_t frame)
{
    std::unique_ptr<mpg123_handle, HandleDeleter> handle(mpg123_new(nullptr, nullptr));
    if (!handle)
        return false;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, flags_, 0.0);
    // Each part of a file joined from parts in other formats comes in its own.
    allowSigned16(handle.get());
    auto stream = std::make_unique<FileStream>(file_, offset);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (!stream->openIn(handle.get()) || mpg123_getformat(handle.get(), &rate, &channels, &encoding) != MPG123_OK)
        return false;
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
    // A part in another format comes at its own rate and channel count, from
    // the next read on; what this one gave is still in the old format.
    if (status == MPG123_NEW_FORMAT) {
        long rate = 0;
        int encoding = 0;
        mpg123_getformat(handle_.get(), &rate, &channels_, &encoding);
        rate_ = static_cast<int>(rate);
    }
    // Any other status but OK means nothing more can be decoded.
    ended = status != MPG123_OK && status != MPG123_NEW_FORMAT;
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
    if (behind && !startStreamAt(0, 0))
        return false;
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
    bytes.resize(file_.readAt(bytes.data(), bytes.size(), lands, error).value_or(0));
    const std::optional<MpegFrameAt> found = findMpegFrame(bytes, nullptr, false);
    return found && startStreamAt(lands + static_cast<std::int64_t>(found->offset), frame);
}
