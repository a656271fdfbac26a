#include "engine/decoder.h"

#include <utility>

#include <mpg123.h>

#include "engine/lengthestimate.h"

void Decoder::HandleDeleter::operator()(mpg123_handle_struct* handle) const
{
    mpg123_close(handle);
    mpg123_delete(handle);
}

Decoder::~Decoder() = default;

namespace {

std::string handleError(mpg123_handle* handle)
{
    return mpg123_strerror(handle);
}

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

std::unique_ptr<Decoder> Decoder::open(const std::string& path, std::string& error, std::stop_token cancel)
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

    int status = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> handle(mpg123_new(nullptr, &status));
    if (!handle) {
        error = mpg123_plain_strerror(status);
        return nullptr;
    }
    long flags = MPG123_QUIET;
    // A frame is only taken for one when the next confirms it; a stream of
    // one frame has nothing to confirm it by.
    if (length->basis == LengthEstimate::Basis::EveryFrame && length->frames == 1)
        flags |= MPG123_NO_READAHEAD;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, flags, 0.0);
    allowSigned16(handle.get());

    if (mpg123_open_fd(handle.get(), file->descriptor()) != MPG123_OK) {
        error = handleError(handle.get());
        return nullptr;
    }
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handle.get(), &rate, &channels, &encoding) != MPG123_OK) {
        error = "no MPEG audio frames";
        return nullptr;
    }
    // Fix the output format for the whole file.
    mpg123_format_none(handle.get());
    mpg123_format(handle.get(), rate, channels, encoding);

    std::unique_ptr<Decoder> decoder(new Decoder(std::move(*file)));
    decoder->handle_ = std::move(handle);
    decoder->rate_ = static_cast<int>(rate);
    decoder->channels_ = channels;
    decoder->lengthFrames_ = lengthInSamples(decoder->handle_.get(), *length);
    return decoder;
}

std::size_t Decoder::read(std::int16_t* out, std::size_t maxSamples, bool& ended)
{
    maxSamples -= maxSamples % static_cast<std::size_t>(channels_);
    std::size_t bytes = 0;
    const int status = mpg123_read(handle_.get(), out, maxSamples * sizeof(std::int16_t), &bytes);
    // A new format mid-file keeps the fixed output format; any other status
    // but OK means nothing more can be decoded.
    ended = status != MPG123_OK && status != MPG123_NEW_FORMAT;
    return bytes / sizeof(std::int16_t);
}

bool Decoder::seekToFrame(std::int64_t frame)
{
    return mpg123_seek(handle_.get(), static_cast<off_t>(frame), SEEK_SET) >= 0;
}
