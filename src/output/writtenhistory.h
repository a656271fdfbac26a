// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What a segment has written: how many frames, and the last of its samples
// by segment frame, so that a halt can fade out what is about to be heard.
class WrittenHistory {
public:
    // Keeps the last `frames` frames of `channels` interleaved samples each.
    void resize(std::int64_t frames, int channels);
    // A new segment: nothing written yet.
    void restart() { written_ = 0; }
    void append(const std::int16_t* samples, std::size_t frames);
    std::int64_t written() const { return written_; }
    // Copies `frames` frames from segment frame `from` on into `out`. False,
    // copying nothing, where any of them is no longer kept or not written.
    bool copy(std::int64_t from, std::int64_t frames, std::int16_t* out) const;

private:
    std::size_t channels_ = 0;
    // Segment frame f begins at sample (f * channels) modulo the size.
    std::vector<std::int16_t> samples_;
    std::int64_t written_ = 0;
};
