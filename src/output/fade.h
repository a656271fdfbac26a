// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>

// How long a backend's fade at a halt lasts: long enough that a tone cut at
// its peak steps no more than the tone itself does, short enough that a
// pause is silent within a few milliseconds of the next cycle.
inline constexpr std::chrono::milliseconds fadeOutLength{3};

// Linear fades over the first `frames` frames of interleaved samples, so that
// sound starting or stopping mid-wave does not click.
void fadeIn(std::int16_t* samples, int frames, int channels);
void fadeOut(std::int16_t* samples, int frames, int channels);
