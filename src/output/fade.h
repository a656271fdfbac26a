// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Linear fades over the first `frames` frames of interleaved samples, so that
// sound starting or stopping mid-wave does not click.
void fadeIn(std::int16_t* samples, int frames, int channels);
void fadeOut(std::int16_t* samples, int frames, int channels);
