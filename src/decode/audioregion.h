// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/regularfile.h"

// The bytes of a file between the tags at its ends: ID3v2 before, ID3v1 and
// APEv2 after. The audio frames are somewhere in there.
struct AudioRegion {
    std::int64_t begin = 0;
    std::int64_t end = 0;

    std::int64_t bytes() const { return end - begin; }
};

// Nothing, with `error` set, when the file's size cannot be told.
std::optional<AudioRegion> findAudioRegion(const RegularFile& file, std::string& error);
