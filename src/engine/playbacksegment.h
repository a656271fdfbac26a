// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

// What the output plays since its last prepare() or halt(), its frames
// numbered from 0, and where that stands in the file. A file's parts in
// different formats are different segments, each counted at its own rate, so
// file time is carried from one to the next rather than worked out from the
// file frame. Engine thread only.
struct PlaybackSegment {
    // The file frame and time at segment frame 0.
    std::int64_t startFrame = 0;
    double startSeconds = 0.0;
    int rate = 0;
    int channels = 0;
    // Frames written so far, and whether the output was told no more follow.
    std::int64_t written = 0;
    bool ended = false;

    std::int64_t fileFrame(std::int64_t segmentFrame) const { return startFrame + segmentFrame; }

    // The file time at `segmentFrame`.
    double seconds(std::int64_t segmentFrame) const { return startSeconds + static_cast<double>(segmentFrame) / rate; }

    // The file time at the end of what has been written.
    double writtenSeconds() const { return seconds(written); }

    bool allHeard(std::int64_t heardFrame) const { return heardFrame >= written; }

    // How long until what has been written is heard, from `heardFrame` on.
    std::chrono::microseconds timeLeft(std::int64_t heardFrame) const
    {
        return std::chrono::microseconds(std::max<std::int64_t>((written - heardFrame) * 1'000'000 / rate, 0));
    }
};
