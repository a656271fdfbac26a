// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "harness/pcm.h"

// Where a recording of the sink changes: sound gives way to silence, or a
// tone of a given pitch begins. Frames of one channel.

// The first frame at or after `from` that begins `minLength` frames of
// silence; none until that much has been recorded.
inline std::optional<std::size_t> silenceFrom(const std::vector<std::int16_t>& mono, std::size_t from,
                                              std::size_t minLength)
{
    std::size_t quiet = 0;
    for (std::size_t i = from; i < mono.size(); ++i) {
        quiet = std::abs(mono[i]) <= silenceThreshold ? quiet + 1 : 0;
        if (quiet == minLength)
            return i + 1 - minLength;
    }
    return std::nullopt;
}

// The first sounding frame at or after `from` whose following `window`
// frames have the zero-crossing pitch of `hz`, within 2%. A window reaching
// back into another tone, or over a gap, has another pitch.
inline std::optional<std::size_t> toneFrom(const std::vector<std::int16_t>& mono, int rate, double hz,
                                           std::size_t from, std::size_t window)
{
    for (std::size_t i = from; i + window <= mono.size(); ++i) {
        if (std::abs(mono[i]) > silenceThreshold && std::abs(toneFrequency(mono, rate, i, window) - hz) < hz * 0.02)
            return i;
    }
    return std::nullopt;
}
