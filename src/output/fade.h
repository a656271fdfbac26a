// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Linear fades of interleaved samples, so that sound starting or stopping
// mid-wave does not click.

// In, over the first `frames` frames.
void fadeIn(std::int16_t* samples, int frames, int channels);
// Out, over `length` frames, to silence after them: these `frames` frames
// are the fade's from `offset` on, so that a fade spanning several buffers
// is applied a buffer at a time.
void fadeOut(std::int16_t* samples, std::int64_t frames, int channels, std::int64_t offset, std::int64_t length);
