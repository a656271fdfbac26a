// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/writtenhistory.h"

#include <algorithm>

void WrittenHistory::resize(std::int64_t frames, int channels)
{
    channels_ = static_cast<std::size_t>(channels);
    samples_.assign(static_cast<std::size_t>(frames) * channels_, 0);
}

void WrittenHistory::append(const std::int16_t* samples, std::size_t frames)
{
    const std::size_t size = samples_.size();
    if (size > 0) {
        const std::size_t count = frames * channels_;
        // Of a write longer than the history, the end is kept.
        const std::size_t kept = std::min(count, size);
        const std::int16_t* from = samples + (count - kept);
        const std::size_t at = (static_cast<std::size_t>(written_) * channels_ + (count - kept)) % size;
        const std::size_t beforeWrap = std::min(kept, size - at);
        std::copy_n(from, beforeWrap, samples_.begin() + static_cast<std::ptrdiff_t>(at));
        std::copy_n(from + beforeWrap, kept - beforeWrap, samples_.begin());
    }
    written_ += static_cast<std::int64_t>(frames);
}

bool WrittenHistory::copy(std::int64_t from, std::int64_t frames, std::int16_t* out) const
{
    const std::size_t size = samples_.size();
    const auto kept = channels_ == 0 ? 0 : static_cast<std::int64_t>(size / channels_);
    if (frames <= 0)
        return frames == 0;
    if (from < 0 || from + frames > written_ || from < written_ - kept)
        return false;
    const std::size_t count = static_cast<std::size_t>(frames) * channels_;
    const std::size_t at = static_cast<std::size_t>(from) * channels_ % size;
    const std::size_t beforeWrap = std::min(count, size - at);
    std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(at), beforeWrap, out);
    std::copy_n(samples_.begin(), count - beforeWrap, out + beforeWrap);
    return true;
}
