// SPDX-License-Identifier: GPL-3.0-or-later
// The server's stream halted: the fade written over what it is about to play,
// the cork after it, and the next segment's wait until it has been heard.
#include "output/pulseoutput.h"

#include <algorithm>
#include <thread>

#include "output/outputlog.h"
#include "output/pulsemainloop.h"
#include "output/pulsestream.h"

namespace {

// A cork drops what the server has taken from the stream and not yet played,
// and PipeWire plays up to a quantum behind the time pipewire-pulse reports
// (it says its sinks mix nothing ahead): corked 2 ms after the fade should
// have been heard, 3 to 6 of 12 fades through it were cut off halfway; 15 ms
// after, none of 60. Through PipeWire, a new segment, which corks and flushes
// the stream, begins this long after the fade should have been heard.
constexpr std::chrono::milliseconds fadeHeardMargin{20};
// Through PipeWire, a new segment waits, past the time the fade should have
// been heard, until the server says it has played it, as long as this at
// most: a graph that ran late plays it late, and a flush cuts it off.
constexpr std::chrono::milliseconds lateFadeLimit{200};
constexpr std::chrono::milliseconds lateFadePoll{2};
// Through a server that plays out what it has read, the fade follows what it
// may have read by the time the fade reaches it: a cycle more than it had
// read when asked, by this margin (at 2 ms, with both cores busy at idle
// priority, a few fades began up to 1 ms after the server had read on). A
// cycle is taken to be at least `readAheadFirst` until seen to be longer,
// and at most the limit, PipeWire's default (1024 frames at 48 kHz; a 10 ms
// recorder makes it 256): without the first, 1 of 16 fades was cut short on
// a loaded machine, and the server's time read under load can make a cycle
// seem longer than it is. Each millisecond of it is a millisecond more
// before a pause is heard.
constexpr std::chrono::milliseconds readMargin{4};
constexpr std::chrono::milliseconds readAheadLimit{22};

} // namespace

void PulseOutput::letFadePlayOut()
{
    if (stream_ != nullptr && fadeHeardBy_ && !lost()) {
        std::this_thread::sleep_until(*fadeHeardBy_);
        if (!stream_->takesBackWhatItRead() && !fadePlayed()) {
            const auto giveUp = *fadeHeardBy_ + lateFadeLimit;
            do
                std::this_thread::sleep_for(lateFadePoll);
            while (!fadePlayed() && std::chrono::steady_clock::now() < giveUp);
            // PipeWire plays behind what it says, as at the first wait.
            std::this_thread::sleep_for(fadeHeardMargin);
        }
    }
    fadeHeardBy_.reset();
}

bool PulseOutput::fadePlayed()
{
    const std::lock_guard lock(*mainLoop_);
    std::string error;
    if (stream_ == nullptr || mainLoop_->lost() || !stream_->readIndex(error))
        return true;
    const std::optional<std::int64_t> heard = stream_->heardIndex(error);
    return !heard || *heard >= fadeEnd_;
}

std::int64_t PulseOutput::halt(const HaltFade& fade)
{
    if (mainLoop_ == nullptr)
        return haltedAt_.value_or(0);
    const std::lock_guard lock(*mainLoop_);
    if (stream_ == nullptr || !segmentBegun_)
        return haltedAt_.value_or(0);
    const std::int64_t heard = segmentFrameHeard();
    // Not started, nothing was heard; started, the fade follows what the
    // server may have mixed or read.
    const std::int64_t from = started_ ? std::min<std::int64_t>(fadeStart(heard), written_) : heard;
    const std::int64_t fadeFrames = fade.frames() + stream_->framesIn(fadeSilence);
    // Grows once, at the first halt in a format.
    fade_.resize(static_cast<std::size_t>(fadeFrames * stream_->format().channels));
    std::optional<std::int64_t> fading;
    if (started_ && !mainLoop_->lost())
        fading = fade.render(from, fade_.data(), fadeFrames);

    std::string error;
    if (fading && *fading > 0) {
        // Write the fade to silence over what is about to be heard; the
        // server rewinds its sink to play it, and the cork follows once it has.
        const auto untilFaded = stream_->durationOf(from - heard + *fading) + std::chrono::milliseconds(2);
        if (stream_->writeAt(fade_.data(), fadeFrames, segmentOrigin_ + from, error)
            && stream_->corkAfter(untilFaded + corkAfterFade, error)) {
            // PulseAudio plays the fade when it says: only PipeWire needs the margin.
            const auto margin = stream_->takesBackWhatItRead() ? std::chrono::milliseconds(0) : fadeHeardMargin;
            fadeHeardBy_ = std::chrono::steady_clock::now() + untilFaded + margin;
            fadeEnd_ = segmentOrigin_ + from + *fading;
        } else {
            qCDebug(outputLog) << "cannot fade out, corking at once:" << error.c_str();
            fading.reset();
        }
    }
    if (!fading || *fading == 0) {
        fadeHeardBy_.reset();
        if (!stream_->cork(true, error))
            qCDebug(outputLog) << "cannot cork the stream:" << error.c_str();
    }
    started_ = false;
    segmentBegun_ = false;
    dataEnded_ = false;
    haltedAt_ = from;
    return from;
}

std::int64_t PulseOutput::fadeStart(std::int64_t heard)
{
    const std::int64_t mixed = heard + mixedAhead_;
    if (stream_->takesBackWhatItRead())
        return mixed;
    // What the server has read plays out, and it may read a cycle more
    // before the fade reaches it: the fade follows both. A cycle is learnt
    // as the furthest ahead of what is heard the server was seen to read.
    std::string error;
    const std::optional<std::int64_t> read = stream_->readIndex(error);
    if (!read) {
        qCDebug(outputLog) << "cannot ask how far the server has read:" << error.c_str();
        return mixed + readAhead_;
    }
    const std::int64_t taken = *read - segmentOrigin_;
    readAhead_ = std::clamp<std::int64_t>(taken - heard, readAhead_, stream_->framesIn(readAheadLimit));
    return std::max(mixed, std::max(taken, heard + readAhead_) + stream_->framesIn(readMargin));
}
