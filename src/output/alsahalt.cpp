// SPDX-License-Identifier: GPL-3.0-or-later
// ALSA's device halted: what it holds unplayed taken back and a fade written
// in its place, and the next segment's wait until the fade has been heard.
#include "output/alsaoutput.h"

#include <algorithm>
#include <thread>

#include <alsa/asoundlib.h>

#include "output/alsaerror.h"
#include "output/outputlog.h"

namespace {

// A halt's fade begins this far ahead of what the device has played: it
// must be written before the device reaches it.
constexpr std::chrono::milliseconds rewindMargin{2};
// What the device may have played meanwhile, where it tells what it took
// back.
constexpr std::chrono::milliseconds rewindSlack{5};
// A new segment drops the device's queue only this long after its delay
// said the fade would have been heard, as a device that passes its queue on
// (to a sound server's graph, say) may play it a little later.
constexpr std::chrono::milliseconds dropAfterFade{5};

} // namespace

void AlsaOutput::letFadePlayOut()
{
    if (fadeHeardBy_)
        std::this_thread::sleep_until(*fadeHeardBy_);
    fadeHeardBy_.reset();
}

bool AlsaOutput::dropQueued(std::string& error)
{
    letFadePlayOut();
    return alsaSucceeded(snd_pcm_drop(pcm_.get()), "drop what is queued", error)
           && alsaSucceeded(snd_pcm_prepare(pcm_.get()), "prepare", error);
}

std::int64_t AlsaOutput::halt(const HaltFade& fade)
{
    if (pcm_ == nullptr || haltedAt_)
        return haltedAt_.value_or(0);
    const std::int64_t heard = heardFrames();
    const bool running = started_ && snd_pcm_state(pcm_.get()) == SND_PCM_STATE_RUNNING;
    const std::optional<std::int64_t> faded = running ? fadeOutQueued(heard, fade) : std::nullopt;
    std::string error;
    if (!faded && !dropQueued(error))
        fail();
    started_ = false;
    haltedAt_ = faded.value_or(heard);
    return *haltedAt_;
}

std::optional<std::int64_t> AlsaOutput::fadeOutQueued(std::int64_t heard, const HaltFade& fade)
{
    const std::int64_t fading = std::min(fade.frames(), written_ - heard);
    // Some devices say they can take back their whole buffer, however
    // little of it is filled.
    const snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_.get());
    const std::int64_t taking = std::min<std::int64_t>(snd_pcm_rewindable(pcm_.get()), bufferFrames_ - room)
                                - framesIn(rewindMargin);
    snd_pcm_sframes_t queuedBefore = 0;
    std::string error;
    if (fading <= 0 || room < 0 || taking <= 0
        || !alsaSucceeded(snd_pcm_delay(pcm_.get(), &queuedBefore), "read the delay", error))
        return std::nullopt;
    const snd_pcm_sframes_t taken = snd_pcm_rewind(pcm_.get(), static_cast<snd_pcm_uframes_t>(taking));
    snd_pcm_sframes_t queuedAfter = 0;
    if (taken <= 0 || !alsaSucceeded(snd_pcm_delay(pcm_.get(), &queuedAfter), "read the delay", error))
        return std::nullopt;
    // A device that has passed its queue on already (to a sound server, say)
    // may move its pointer back and still play it all.
    if (queuedBefore - queuedAfter < taken - framesIn(rewindSlack)) {
        qCDebug(outputLog) << "ALSA's default device did not take back what it had queued:" << queuedBefore
                           << "frames queued before," << queuedAfter << "after taking back" << taken;
        return std::nullopt;
    }
    const std::int64_t from = written_ - taken;
    const std::int64_t frames = fade.frames() + framesIn(silenceAfterFade);
    // Grows once, at the first halt in a format.
    fade_.resize(static_cast<std::size_t>(frames * channels_));
    const std::optional<std::int64_t> faded = fade.render(from, fade_.data(), frames);
    if (!faded)
        return std::nullopt;
    const snd_pcm_sframes_t done = snd_pcm_writei(pcm_.get(), fade_.data(), static_cast<snd_pcm_uframes_t>(frames));
    if (done < static_cast<snd_pcm_sframes_t>(*faded)) {
        alsaSucceeded(static_cast<int>(std::min<snd_pcm_sframes_t>(done, 0)), "write the fade", error);
        return std::nullopt;
    }
    fadeHeardBy_ = std::chrono::steady_clock::now()
                   + std::chrono::microseconds((queuedAfter + *faded) * 1'000'000 / rate_) + dropAfterFade;
    written_ = from;
    return from;
}
