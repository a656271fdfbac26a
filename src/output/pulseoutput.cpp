// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulseoutput.h"

#include <algorithm>
#include <utility>

#include "output/outputlog.h"
#include "output/pulsemainloop.h"
#include "output/pulsestream.h"

namespace {

// The sink mixes a little ahead of what is heard, and what it has mixed may
// already have gone on (to a monitor, say): fades are placed after it, up to
// this far ahead.
constexpr std::chrono::milliseconds mixedAheadLimit{20};
constexpr std::chrono::milliseconds mixedAheadMargin{2};
// The server may hold a little more than it was asked to.
constexpr std::chrono::milliseconds queuedBeyondAsked{500};

} // namespace

PulseOutput::PulseOutput(ApplicationIdentity identity) : identity_(std::move(identity)), title_(identity_.name) {}

PulseOutput::~PulseOutput()
{
    close();
}

bool PulseOutput::startConnecting(std::string& error)
{
    auto mainLoop = std::make_unique<PulseMainLoop>([this] { wakeEngine(); }, waitCancel_, identity_);
    if (!mainLoop->startConnecting(error))
        return false;
    mainLoop_ = std::move(mainLoop);
    return true;
}

bool PulseOutput::connect(std::string& error)
{
    if (mainLoop_ == nullptr && !startConnecting(error))
        return false;
    const std::lock_guard lock(*mainLoop_);
    return mainLoop_->waitUntilConnected(error);
}

bool PulseOutput::openStream(int rate, int channels, std::string& error)
{
    auto stream = std::make_unique<PulseStream>(*mainLoop_, [this] { wakeEngine(); });
    if (!stream->connect(rate, channels, title_, error))
        return false;
    const auto samplesIn = [&](std::chrono::milliseconds span) {
        return static_cast<std::size_t>(stream->framesIn(span) * channels);
    };
    silence_.assign(samplesIn(mixedAheadLimit + mixedAheadMargin), 0);
    readAhead_ = stream->framesIn(readAheadFirst);
    stream_ = std::move(stream);
    return true;
}

void PulseOutput::warmUp()
{
    std::string error;
    if (mainLoop_ == nullptr && !startConnecting(error))
        qCDebug(outputLog) << "cannot connect to the sound server ahead:" << error.c_str();
}

bool PulseOutput::prepare(int rate, int channels, std::string& error)
{
    // A connection lost, or one whose server did not answer in time, is
    // made afresh: a server that answers again is used again.
    if (lost())
        close();
    serverUnanswered_ = false;
    if (!connect(error)) {
        serverUnanswered_ = mainLoop_ != nullptr && mainLoop_->unanswered();
        close();
        return false;
    }
    const bool formatChanges = stream_ != nullptr
                               && (rate != static_cast<int>(stream_->format().rate)
                                   || channels != static_cast<int>(stream_->format().channels));
    if (formatChanges)
        letFadePlayOut();
    bool opened = true;
    {
        const std::lock_guard lock(*mainLoop_);
        if (formatChanges)
            stream_.reset();
        if (stream_ == nullptr)
            opened = openStream(rate, channels, error);
        segmentBegun_ = false;
        started_ = false;
        dataEnded_ = false;
        written_ = 0;
        haltedAt_.reset();
    }
    if (!opened) {
        serverUnanswered_ = mainLoop_->unanswered();
        close();
    }
    return opened;
}

void PulseOutput::close()
{
    if (mainLoop_ == nullptr)
        return;
    letFadePlayOut();
    {
        const std::lock_guard lock(*mainLoop_);
        stream_.reset();
    }
    mainLoop_.reset();
    segmentBegun_ = false;
    started_ = false;
    haltedAt_.reset();
}

void PulseOutput::nameStream(const std::string& title)
{
    title_ = title;
    if (mainLoop_ == nullptr)
        return;
    const std::lock_guard lock(*mainLoop_);
    std::string error;
    if (stream_ != nullptr && !mainLoop_->lost() && !stream_->rename(title_, error))
        qCDebug(outputLog) << "cannot rename the stream:" << error.c_str();
}

bool PulseOutput::lost() const
{
    return mainLoop_ != nullptr && mainLoop_->lost();
}

std::unique_lock<PulseMainLoop> PulseOutput::lockBegunSegment()
{
    if (mainLoop_ == nullptr)
        return {};
    if (!segmentBegun_)
        letFadePlayOut();
    std::unique_lock lock(*mainLoop_);
    if (stream_ == nullptr || mainLoop_->lost())
        return {};
    std::string error;
    if (!segmentBegun_ && !beginSegment(error)) {
        streamFailed("cannot begin a segment", error);
        return {};
    }
    return lock;
}

bool PulseOutput::beginSegment(std::string& error)
{
    // Flushed while corked, the queue is empty: the next byte written is
    // the next one heard.
    if (!stream_->cork(true, error) || !stream_->flush(error))
        return false;
    const std::optional<std::int64_t> origin = stream_->writeIndex(error);
    if (!origin)
        return false;
    // Started, the stream is mixed in at once by rewinding the sink over what
    // it had mixed ahead; silence covers that, so the fade-in is heard. A
    // sink that cannot be asked keeps the last estimate.
    std::string latencyError;
    if (const auto latency = stream_->sinkLatency(latencyError))
        mixedAhead_ = stream_->framesIn(std::min<std::chrono::microseconds>(*latency, mixedAheadLimit)
                                        + mixedAheadMargin);
    else
        qCDebug(outputLog) << "cannot ask how far ahead the sink mixes:" << latencyError.c_str();
    if (!stream_->write(silence_.data(), mixedAhead_, error))
        return false;
    segmentOrigin_ = *origin + mixedAhead_;
    written_ = 0;
    lastHeard_ = 0;
    haltedAt_.reset();
    segmentBegun_ = true;
    return true;
}

std::size_t PulseOutput::writable()
{
    const auto lock = lockBegunSegment();
    if (!lock)
        return 0;
    return stream_->writableFrames();
}

void PulseOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (frames == 0)
        return;
    const auto lock = lockBegunSegment();
    if (!lock)
        return;
    std::string error;
    if (!stream_->write(samples, static_cast<std::int64_t>(frames), error)) {
        streamFailed("cannot write to the stream", error);
        return;
    }
    written_ += static_cast<std::int64_t>(frames);
}

void PulseOutput::endOfData()
{
    if (mainLoop_ == nullptr)
        return;
    const std::lock_guard lock(*mainLoop_);
    dataEnded_ = true;
    std::string error;
    if (stream_ != nullptr && started_ && !stream_->trigger(error))
        streamFailed("cannot play the end of the stream", error);
}

void PulseOutput::start()
{
    const auto lock = lockBegunSegment();
    if (!lock)
        return;
    std::string error;
    if (!stream_->cork(false, error)) {
        streamFailed("cannot start the stream", error);
        return;
    }
    started_ = true;
    if (dataEnded_ && !stream_->trigger(error))
        streamFailed("cannot play the end of the stream", error);
}

std::int64_t PulseOutput::segmentFrameHeard()
{
    if (!segmentBegun_)
        return haltedAt_.value_or(0);
    // Once the server has run dry at the end, the time stays short of the
    // end by the sink's latency.
    if (dataEnded_ && stream_->ranDry()) {
        lastHeard_ = written_;
        return written_;
    }
    // Where the server's timing cannot be read, the last position stands
    // rather than jumping back to the segment's start.
    std::string error;
    const std::optional<std::int64_t> heard = stream_->heardIndex(error);
    if (!heard) {
        qCDebug(outputLog) << "cannot read the stream's time:" << error.c_str();
        return lastHeard_;
    }
    lastHeard_ = std::clamp<std::int64_t>(*heard - segmentOrigin_, 0, written_);
    return lastHeard_;
}

std::int64_t PulseOutput::heardFrames()
{
    if (mainLoop_ == nullptr)
        return haltedAt_.value_or(0);
    const std::lock_guard lock(*mainLoop_);
    if (stream_ == nullptr || mainLoop_->lost())
        return haltedAt_.value_or(0);
    return segmentFrameHeard();
}

bool PulseOutput::heardAdvances()
{
    if (mainLoop_ == nullptr)
        return false;
    const std::lock_guard lock(*mainLoop_);
    if (stream_ == nullptr || mainLoop_->lost() || !segmentBegun_ || !started_)
        return false;
    return !(dataEnded_ && stream_->ranDry()) && stream_->advancing();
}

std::chrono::milliseconds PulseOutput::keptForFade() const
{
    return PulseStream::queueAhead + queuedBeyondAsked;
}

std::chrono::milliseconds PulseOutput::refillPeriod() const
{
    return PulseStream::queueAhead / 4;
}

void PulseOutput::streamFailed(const char* what, const std::string& error)
{
    mainLoop_->markLost(std::string(what) + ": " + error);
}
