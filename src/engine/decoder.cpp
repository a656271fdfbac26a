#include "engine/decoder.h"

#include <utility>

#include <mpg123.h>

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

} // namespace

std::unique_ptr<Decoder> Decoder::open(const std::string& path, std::string& error, std::stop_token /*cancel*/)
{
    std::optional<RegularFile> file = RegularFile::open(path, error);
    if (!file)
        return nullptr;

    int status = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> handle(mpg123_new(nullptr, &status));
    if (!handle) {
        error = mpg123_plain_strerror(status);
        return nullptr;
    }
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    allowSigned16(handle.get());

    if (mpg123_open_fd(handle.get(), file->descriptor()) != MPG123_OK) {
        error = handleError(handle.get());
        return nullptr;
    }
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handle.get(), &rate, &channels, &encoding) != MPG123_OK) {
        error = "not MPEG audio (" + handleError(handle.get()) + ")";
        return nullptr;
    }
    // A LAME tag comes in a Xing or Info header, whose frame count makes the
    // length exact. Without one the length is only an estimate, and a scan of
    // the frame headers makes it exact (and seeking too).
    long encoderDelay = -1;
    if (mpg123_getstate(handle.get(), MPG123_ENC_DELAY, &encoderDelay, nullptr) != MPG123_OK || encoderDelay < 0)
        mpg123_scan(handle.get());
    const off_t length = mpg123_length(handle.get());

    std::unique_ptr<Decoder> decoder(new Decoder(std::move(*file)));
    decoder->handle_ = std::move(handle);
    decoder->rate_ = static_cast<int>(rate);
    decoder->channels_ = channels;
    decoder->lengthFrames_ = length > 0 ? length : 0;
    return decoder;
}

std::size_t Decoder::read(std::int16_t* out, std::size_t maxSamples, bool& ended)
{
    maxSamples -= maxSamples % static_cast<std::size_t>(channels_);
    std::size_t bytes = 0;
    const int status = mpg123_read(handle_.get(), out, maxSamples * sizeof(std::int16_t), &bytes);
    // A part in another format (files joined from parts) comes at its own
    // rate and channel count, from the next read on.
    if (status == MPG123_NEW_FORMAT) {
        long rate = 0;
        int encoding = 0;
        mpg123_getformat(handle_.get(), &rate, &channels_, &encoding);
        rate_ = static_cast<int>(rate);
    }
    // Any other status but OK means nothing more can be decoded.
    ended = status != MPG123_OK && status != MPG123_NEW_FORMAT;
    return bytes / sizeof(std::int16_t);
}

bool Decoder::seekToFrame(std::int64_t frame)
{
    return mpg123_seek(handle_.get(), static_cast<off_t>(frame), SEEK_SET) >= 0;
}
