// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "output/writtenhistory.h"

// The fade out at a halt, which the engine makes and a backend places. The
// engine says how long the fade lasts, and keeps here the segment's last
// frames as it writes them, as many as its output asks for; a backend that
// writes the fade itself takes it from the first frame it can still
// replace. Engine thread only.
class HaltFade {
public:
    // A new segment of `channels` channels, nothing written yet: keeps
    // `keptFrames` of its last frames and fades over `fadeFrames`.
    // Allocates only where the shape changes.
    void restart(int channels, std::int64_t keptFrames, std::int64_t fadeFrames);
    void append(const std::int16_t* samples, std::size_t frames);

    // How long it fades, in frames.
    std::int64_t frames() const { return fadeFrames_; }
    // The segment's frames written so far.
    std::int64_t written() const { return history_.written(); }

    // Fills `outFrames` frames at `out` with the fade from segment frame
    // `from`, shortened to what the segment holds from there, then silence.
    // How many frames of it are sound; none where those frames are not kept
    // or `outFrames` cannot hold the fade.
    std::optional<std::int64_t> render(std::int64_t from, std::int16_t* out, std::int64_t outFrames) const;

private:
    WrittenHistory history_;
    int channels_ = 0;
    std::int64_t keptFrames_ = 0;
    std::int64_t fadeFrames_ = 0;
};
