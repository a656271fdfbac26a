// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/alsaoutput.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string_view>

#include <alsa/asoundlib.h>

#include "output/alsaerror.h"
#include "output/fade.h"
#include "output/outputlog.h"

namespace {

// The device's queue: long enough that the engine tops it up a few times a
// second, short enough for little memory.
constexpr unsigned queueMicroseconds = 500'000;

// One of libasound's own error messages, formatted into the output's log.
void logAlsaError(const char* file, int line, const char* function, int error, const char* format, ...)
{
    if (!outputLog().isDebugEnabled())
        return;
    std::array<char, 1024> message{};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message.data(), message.size(), format, arguments);
    va_end(arguments);
    qCDebug(outputLog).nospace() << "ALSA: " << message.data() << " (" << function << ", " << file << ':' << line
                                 << ')' << (error != 0 ? ": " : "") << (error != 0 ? snd_strerror(error) : "");
}

// The device starts on start() alone, not on the first write: its start
// threshold is past anything a write could fill.
bool startOnlyWhenAsked(snd_pcm_t* pcm, std::string& error)
{
    snd_pcm_sw_params_t* allocated = nullptr;
    if (!alsaSucceeded(snd_pcm_sw_params_malloc(&allocated), "allocate software parameters", error))
        return false;
    const std::unique_ptr<snd_pcm_sw_params_t, decltype(&snd_pcm_sw_params_free)> software(allocated,
                                                                                          &snd_pcm_sw_params_free);
    snd_pcm_uframes_t boundary = 0;
    return alsaSucceeded(snd_pcm_sw_params_current(pcm, software.get()), "read the software parameters", error)
           && alsaSucceeded(snd_pcm_sw_params_get_boundary(software.get(), &boundary), "read the boundary", error)
           && alsaSucceeded(snd_pcm_sw_params_set_start_threshold(pcm, software.get(), boundary),
                        "set the start threshold", error)
           && alsaSucceeded(snd_pcm_sw_params(pcm, software.get()), "set the software parameters", error);
}

} // namespace

bool alsaSucceeded(int status, const char* what, std::string& error)
{
    if (status >= 0)
        return true;
    error = snd_strerror(status);
    qCDebug(outputLog) << "ALSA's default device: cannot" << what << "-" << error.c_str();
    return false;
}

void AlsaOutput::ClosePcm::operator()(snd_pcm_t* pcm) const
{
    std::string error;
    alsaSucceeded(snd_pcm_close(pcm), "close", error);
}

AlsaOutput::AlsaOutput()
{
    // libasound has one error handler for the whole process, which prints to
    // stderr: a drop with no sound server would print its lines there. This
    // sets it, once for all outputs, to the output's log.
    static std::once_flag handlerSet;
    std::call_once(handlerSet, [] { snd_lib_error_set_handler(&logAlsaError); });
}

bool AlsaOutput::defaultAvoidsServer(std::string& error)
{
    if (snd_config == nullptr) {
        error = "ALSA's configuration, not loaded yet, would ask the sound server first";
        return false;
    }
    snd_config_t* found = nullptr;
    // Where there is no default, opening it fails at once.
    if (snd_config_search_definition(snd_config, "pcm", "default", &found) < 0)
        return true;
    const std::unique_ptr<snd_config_t, decltype(&snd_config_delete)> definition(found, &snd_config_delete);
    snd_config_t* typeNode = nullptr;
    const char* type = nullptr;
    if (snd_config_search(definition.get(), "type", &typeNode) >= 0 && snd_config_get_string(typeNode, &type) >= 0
        && std::string_view(type) == "pulse") {
        error = "ALSA's default device plays through the sound server";
        return false;
    }
    return true;
}

bool AlsaOutput::open(int rate, int channels, std::string& error)
{
    snd_pcm_t* opened = nullptr;
    const int status = snd_pcm_open(&opened, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (status < 0) {
        error = snd_strerror(status);
        return false;
    }
    std::unique_ptr<snd_pcm_t, ClosePcm> pcm(opened);
    if (!alsaSucceeded(snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                                      static_cast<unsigned>(channels), static_cast<unsigned>(rate), 1,
                                      queueMicroseconds),
                   "set the format", error)
        || !startOnlyWhenAsked(pcm.get(), error))
        return false;
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    if (!alsaSucceeded(snd_pcm_get_params(pcm.get(), &bufferFrames, &periodFrames), "read the buffer's size", error))
        return false;
    bufferFrames_ = static_cast<std::int64_t>(bufferFrames);
    qCDebug(outputLog) << "ALSA's default device opened:" << rate << "Hz," << channels << "channels";
    pcm_ = std::move(pcm);
    rate_ = rate;
    channels_ = channels;
    return true;
}

std::int64_t AlsaOutput::framesIn(std::chrono::microseconds duration) const
{
    return rate_ * duration.count() / 1'000'000;
}

bool AlsaOutput::prepare(int rate, int channels, std::string& error)
{
    if (pcm_ != nullptr && (rate != rate_ || channels != channels_ || lost()))
        close();
    std::string dropError;
    if (pcm_ != nullptr && !dropQueued(dropError))
        close();
    if (pcm_ == nullptr && !open(rate, channels, error))
        return false;
    started_ = false;
    written_ = 0;
    lastHeard_ = 0;
    haltedAt_.reset();
    return true;
}

void AlsaOutput::close()
{
    letFadePlayOut();
    pcm_.reset();
    failed_ = false;
    started_ = false;
    haltedAt_.reset();
}

bool AlsaOutput::lost() const
{
    return failed_ || (pcm_ != nullptr && snd_pcm_state(pcm_.get()) == SND_PCM_STATE_DISCONNECTED);
}

void AlsaOutput::fail()
{
    qCDebug(outputLog) << "ALSA's default device is given up as lost";
    failed_ = true;
}

void AlsaOutput::beginSegmentIfHalted()
{
    if (!haltedAt_)
        return;
    std::string error;
    if (fadeHeardBy_ && !dropQueued(error))
        fail();
    written_ = 0;
    lastHeard_ = 0;
    haltedAt_.reset();
}

void AlsaOutput::recoverFromUnderrun()
{
    std::string error;
    if (snd_pcm_state(pcm_.get()) == SND_PCM_STATE_XRUN
        && !alsaSucceeded(snd_pcm_prepare(pcm_.get()), "recover from an underrun", error))
        fail();
}

void AlsaOutput::startDevice()
{
    std::string error;
    if (!alsaSucceeded(snd_pcm_start(pcm_.get()), "start", error))
        fail();
}

std::size_t AlsaOutput::writable()
{
    if (pcm_ == nullptr || lost())
        return 0;
    beginSegmentIfHalted();
    recoverFromUnderrun();
    const snd_pcm_sframes_t available = snd_pcm_avail_update(pcm_.get());
    if (available < 0) {
        // Run dry or full is passing; anything else loses the device.
        std::string error;
        if (!alsaSucceeded(static_cast<int>(available), "ask for room", error) && available != -EPIPE
            && available != -EAGAIN)
            fail();
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
    const snd_pcm_sframes_t done = snd_pcm_writei(pcm_.get(), samples, frames);
    if (done < 0) {
        // Full, or run dry meanwhile: these samples are not played, and are
        // not counted. Anything else loses the device.
        std::string error;
        alsaSucceeded(static_cast<int>(done), "write", error);
        if (done != -EAGAIN && done != -EPIPE)
            fail();
        return;
    }
    if (static_cast<std::size_t>(done) < frames)
        qCDebug(outputLog) << "ALSA's default device took" << done << "of" << frames << "frames";
    written_ += done;
    if (started_ && snd_pcm_state(pcm_.get()) == SND_PCM_STATE_PREPARED)
        startDevice();
}

void AlsaOutput::start()
{
    if (pcm_ == nullptr)
        return;
    beginSegmentIfHalted();
    started_ = true;
    if (written_ > 0 && snd_pcm_state(pcm_.get()) == SND_PCM_STATE_PREPARED)
        startDevice();
}

std::int64_t AlsaOutput::heardFrames()
{
    if (haltedAt_)
        return *haltedAt_;
    if (pcm_ == nullptr || !started_)
        return 0;
    switch (snd_pcm_state(pcm_.get())) {
    case SND_PCM_STATE_XRUN:
        lastHeard_ = written_;
        return written_;
    case SND_PCM_STATE_RUNNING: {
        // Where the delay cannot be read, the last position stands.
        snd_pcm_sframes_t delay = 0;
        std::string error;
        if (alsaSucceeded(snd_pcm_delay(pcm_.get(), &delay), "read the delay", error))
            lastHeard_ = std::clamp<std::int64_t>(written_ - delay, 0, written_);
        return lastHeard_;
    }
    default:
        return 0;
    }
}

std::chrono::milliseconds AlsaOutput::keptForFade() const
{
    return std::chrono::milliseconds(queueMicroseconds / 1000);
}

std::chrono::milliseconds AlsaOutput::refillPeriod() const
{
    return std::chrono::milliseconds(queueMicroseconds / 1000 / 4);
}
