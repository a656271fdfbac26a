// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/haltfade.h"

#include <algorithm>

#include "output/fade.h"

void HaltFade::restart(int channels, std::int64_t keptFrames, std::int64_t fadeFrames)
{
    if (channels != channels_ || keptFrames != keptFrames_)
        history_.resize(keptFrames, channels);
    channels_ = channels;
    keptFrames_ = keptFrames;
    fadeFrames_ = fadeFrames;
    history_.restart();
}

void HaltFade::append(const std::int16_t* samples, std::size_t frames)
{
    history_.append(samples, frames);
}

std::optional<std::int64_t> HaltFade::render(std::int64_t from, std::int16_t* out, std::int64_t outFrames) const
{
    const std::int64_t sounding = std::clamp<std::int64_t>(written() - from, 0, fadeFrames_);
    if (outFrames < fadeFrames_ || !history_.copy(from, sounding, out))
        return std::nullopt;
    std::fill(out + sounding * channels_, out + outFrames * channels_, std::int16_t{0});
    // Where less than the fade is left, it fades over what there is.
    fadeOut(out, sounding, channels_, 0, sounding);
    return sounding;
}
