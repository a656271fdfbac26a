#include "output/alsaoutput.h"

#include <algorithm>
#include <cerrno>

#include <alsa/asoundlib.h>

namespace {

// The device's queue: long enough that the engine tops it up a few times a
// second, short enough for little memory.
constexpr unsigned queueMicroseconds = 500'000;

} // namespace

AlsaOutput::~AlsaOutput()
{
    close();
}

bool AlsaOutput::prepare(int rate, int channels, std::string& error)
{
    if (pcm_ != nullptr && (rate != rate_ || channels != channels_ || lost()))
        close();
    if (pcm_ == nullptr) {
        int status = snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (status < 0) {
            pcm_ = nullptr;
            error = snd_strerror(status);
            return false;
        }
        status = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                                    static_cast<unsigned>(channels), static_cast<unsigned>(rate), 1,
                                    queueMicroseconds);
        // Started by start() alone, not by the first write.
        snd_pcm_sw_params_t* software = nullptr;
        if (status >= 0)
            status = snd_pcm_sw_params_malloc(&software);
        if (status >= 0) {
            snd_pcm_uframes_t boundary = 0;
            snd_pcm_sw_params_current(pcm_, software);
            snd_pcm_sw_params_get_boundary(software, &boundary);
            snd_pcm_sw_params_set_start_threshold(pcm_, software, boundary);
            status = snd_pcm_sw_params(pcm_, software);
            snd_pcm_sw_params_free(software);
        }
        if (status < 0) {
            error = snd_strerror(status);
            close();
            return false;
        }
        rate_ = rate;
        channels_ = channels;
    } else {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }
    started_ = false;
    written_ = 0;
    haltedAt_.reset();
    return true;
}

void AlsaOutput::close()
{
    if (pcm_ != nullptr)
        snd_pcm_close(pcm_);
    pcm_ = nullptr;
    failed_ = false;
    started_ = false;
    haltedAt_.reset();
}

bool AlsaOutput::lost() const
{
    return failed_ || (pcm_ != nullptr && snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED);
}

void AlsaOutput::beginSegmentIfHalted()
{
    if (!haltedAt_)
        return;
    written_ = 0;
    haltedAt_.reset();
}

void AlsaOutput::recoverFromUnderrun()
{
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_XRUN)
        snd_pcm_prepare(pcm_);
}

std::size_t AlsaOutput::writable()
{
    if (pcm_ == nullptr || lost())
        return 0;
    beginSegmentIfHalted();
    recoverFromUnderrun();
    const snd_pcm_sframes_t available = snd_pcm_avail_update(pcm_);
    if (available < 0) {
        failed_ = available != -EPIPE && available != -EAGAIN;
        return 0;
    }
    return static_cast<std::size_t>(available);
}

void AlsaOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (pcm_ == nullptr || lost() || frames == 0)
        return;
    beginSegmentIfHalted();
    recoverFromUnderrun();
    const snd_pcm_sframes_t done = snd_pcm_writei(pcm_, samples, frames);
    if (done < 0) {
        failed_ = done != -EAGAIN && done != -EPIPE;
        return;
    }
    written_ += done;
    if (started_ && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(pcm_);
}

void AlsaOutput::start()
{
    if (pcm_ == nullptr)
        return;
    beginSegmentIfHalted();
    started_ = true;
    if (written_ > 0 && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(pcm_);
}

std::int64_t AlsaOutput::halt()
{
    if (pcm_ == nullptr || haltedAt_)
        return haltedAt_.value_or(0);
    const std::int64_t heard = heardFrames();
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    started_ = false;
    haltedAt_ = heard;
    return heard;
}

std::int64_t AlsaOutput::heardFrames()
{
    if (haltedAt_)
        return *haltedAt_;
    if (pcm_ == nullptr || !started_)
        return 0;
    switch (snd_pcm_state(pcm_)) {
    case SND_PCM_STATE_XRUN:
        return written_;
    case SND_PCM_STATE_RUNNING: {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0)
            return 0;
        return std::clamp<std::int64_t>(written_ - delay, 0, written_);
    }
    default:
        return 0;
    }
}

std::chrono::milliseconds AlsaOutput::refillPeriod() const
{
    return std::chrono::milliseconds(queueMicroseconds / 1000 / 4);
}
