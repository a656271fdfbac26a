// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/fade.h"

#include <algorithm>

namespace {

// Frame i of `frames` at the gain step(i) / (steps + 1).
template<typename Step>
void ramp(std::int16_t* samples, std::int64_t frames, int channels, std::int64_t steps, // NOLINT(readability-non-const-parameter)
          Step step)
{
    for (std::int64_t i = 0; i < frames; ++i) {
        const std::int64_t gain = step(i);
        for (int c = 0; c < channels; ++c) {
            std::int16_t& s = samples[i * channels + c];
            s = static_cast<std::int16_t>(s * gain / (steps + 1));
        }
    }
}

} // namespace

void fadeIn(std::int16_t* samples, int frames, int channels)
{
    ramp(samples, frames, channels, frames, [](std::int64_t i) { return i + 1; });
}

void fadeOut(std::int16_t* samples, std::int64_t frames, int channels, std::int64_t offset, std::int64_t length)
{
    ramp(samples, frames, channels, length,
         [&](std::int64_t i) { return std::max<std::int64_t>(length - (offset + i), 0); });
}
