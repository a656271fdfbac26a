// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/fade.h"

namespace {

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

void fadeIn(std::int16_t* samples, int frames, int channels)
{
    ramp(samples, frames, channels, true);
}

void fadeOut(std::int16_t* samples, int frames, int channels)
{
    ramp(samples, frames, channels, false);
}
