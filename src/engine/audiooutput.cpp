#include "engine/audiooutput.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/playbackshared.h"

namespace {

// About 90 ms a buffer: large enough to keep the sound server's wakeups few,
// small enough that pause and stop are prompt.
int bufferFramesFor(int rate)
{
    return static_cast<int>(std::bit_ceil(static_cast<unsigned>(rate) * 85 / 1000));
}

// Silence drivers that write straight to a file or nowhere have no latency;
// a sound server holds about one buffer ahead of what is heard.
int latencyFramesFor(const SdlAudioApi& sdl, int bufferFrames)
{
    const char* driver = sdl.currentAudioDriver();
    if (driver != nullptr && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0))
        return 0;
    return bufferFrames;
}

void ramp(std::int16_t* samples, int frames, int channels, bool up) // NOLINT(readability-non-const-parameter)
{
    for (int i = 0; i < frames; ++i) {
        const int step = up ? i + 1 : frames - i;
        for (int c = 0; c < channels; ++c) {
            std::int16_t& s = samples[i * channels + c];
            s = static_cast<std::int16_t>(s * step / (frames + 1));
        }
    }
}

} // namespace

AudioOutput::SdlAudioSubsystem::SdlAudioSubsystem(const SdlAudioApi& sdl) : sdl_(sdl)
{
    sdl_.setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    sdl_.setHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Merlow");
    ok_ = sdl_.initSubSystem(SDL_INIT_AUDIO) == 0;
}

AudioOutput::SdlAudioSubsystem::~SdlAudioSubsystem()
{
    if (ok_)
        sdl_.quitSubSystem(SDL_INIT_AUDIO);
    // The last user of SDL frees its global state, hints included.
    if (sdl_.wasInit(0) == 0)
        sdl_.quit();
}

AudioOutput::AudioOutput(PlaybackShared& shared) : shared_(shared) {}

AudioOutput::~AudioOutput()
{
    close();
}

void AudioOutput::close()
{
    if (device_ != 0) {
        sdl_->closeAudioDevice(device_);
        device_ = 0;
    }
}

bool AudioOutput::lost() const
{
    return device_ != 0 && sdl_->audioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
}

bool AudioOutput::ensureOpen(int rate, int channels, std::string& error)
{
    if (device_ != 0 && rate == rate_ && channels == channels_)
        return true;
    close();

    if (!sdl_) {
        sdl_ = SdlAudioApi::get(error);
        if (!sdl_)
            return false;
    }
    if (!subsystem_ || !subsystem_->ok()) {
        subsystem_.reset();
        subsystem_.emplace(*sdl_);
        if (!subsystem_->ok()) {
            error = sdl_->getError();
            return false;
        }
    }

    // Ready before the device opens, since its callback may run at once.
    rate_ = rate;
    channels_ = channels;
    bufferFrames_ = bufferFramesFor(rate);
    fadeFrames_ = std::max(1, rate / 200);
    wasPlaying_ = false;
    shared_.clock.configure(rate, latencyFramesFor(*sdl_, bufferFrames_));

    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = static_cast<Uint16>(bufferFrames_);
    wanted.callback = &AudioOutput::callback;
    wanted.userdata = this;
    // No changes allowed: SDL converts to whatever the hardware wants, and
    // the callback is asked for buffers of the size wanted.
    const SDL_AudioDeviceID device = sdl_->openAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device == 0) {
        error = sdl_->getError();
        return false;
    }
    device_ = device;
    // Started at once: a paused device writes silence, which a sound server
    // would queue ahead of the file.
    sdl_->pauseAudioDevice(device_, 0);
    return true;
}

void AudioOutput::restartAt(std::int64_t fileFrame)
{
    if (device_ != 0)
        sdl_->lockAudioDevice(device_);
    shared_.ring.reset();
    wasPlaying_ = false;
    fileFrame_ = fileFrame;
    shared_.clock.restartAt(fileFrame);
    if (device_ != 0)
        sdl_->unlockAudioDevice(device_);
}

void SDLCALL AudioOutput::callback(void* self, Uint8* stream, int length)
{
    auto* output = static_cast<AudioOutput*>(self);
    output->fill(reinterpret_cast<std::int16_t*>(stream),
                 length / static_cast<int>(sizeof(std::int16_t)) / output->channels_);
}

void AudioOutput::fill(std::int16_t* out, int frames)
{
    const std::size_t samples = static_cast<std::size_t>(frames) * channels_;
    const bool playing = (shared_.playState.load(std::memory_order_acquire) == PlayState::Playing
                          || shared_.playingBeforeOpen.load(std::memory_order_acquire))
                         && shared_.seekDone.load(std::memory_order_acquire)
                                == shared_.seekRequested.load(std::memory_order_acquire);
    const std::int64_t start = fileFrame_;
    int content = 0;
    std::size_t filled = 0;

    if (playing) {
        filled = shared_.ring.read(out, samples);
        content = static_cast<int>(filled) / channels_;
        if (!wasPlaying_)
            ramp(out, std::min(content, fadeFrames_), channels_, true);
        fileFrame_ += content;
        wasPlaying_ = content == frames;
    } else if (wasPlaying_) {
        // Fade out over samples that stay in the ring, so playing resumes
        // from exactly where it stopped.
        filled = shared_.ring.peek(out, static_cast<std::size_t>(fadeFrames_) * channels_);
        ramp(out, static_cast<int>(filled) / channels_, channels_, false);
        wasPlaying_ = false;
    }
    std::fill(out + filled, out + samples, std::int16_t{0});
    shared_.clock.recordBuffer(start, frames, content, PlaybackClock::nowNs());
}
