#include "engine/playbackworker.h"

#include <algorithm>
#include <cmath>

#include <pthread.h>

#include "output/fade.h"
#include "engine/playbackshared.h"

namespace {

// A decoder that gives nothing for this long without saying it ended is
// given up on: the file cannot be played.
constexpr std::chrono::seconds stallLimit{1};
constexpr std::chrono::milliseconds stallCheck{100};
// The fade-in at each start, so that sound starting mid-wave does not click.
constexpr int fadeInPerSecond = 200;

} // namespace

PlaybackWorker::PlaybackWorker(PlaybackShared& shared, std::unique_ptr<AudioOutput> output, SourceOpener openSource,
                               StateChange stateChange, Failure failure)
    : shared_(shared), stateChange_(std::move(stateChange)), failure_(std::move(failure)),
      output_(std::move(output)), openSource_(std::move(openSource)), chunk_(16384), thread_([this] { run(); })
{
}

PlaybackWorker::~PlaybackWorker()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        openCancel_.request_stop();
    }
    wakeUp_.notify_one();
    thread_.join();
}

void PlaybackWorker::requestOpen(const std::string& path)
{
    {
        const std::lock_guard lock(mutex_);
        const int replaced = shared_.currentOpenState();
        pendingPath_ = path;
        // A new file stops the old one at once.
        shared_.commandedPlayState.store(PlayState::Stopped);
        pendingCommands_ = shared_.commands.load() + 1;
        shared_.commands.store(pendingCommands_, std::memory_order_release);
        shared_.opensRequested.fetch_add(1);
        openCancel_.request_stop();
        openCancel_ = std::stop_source();
        // Reported under the lock, so it is always reported before the outcome.
        if (replaced != OpenState::Opening)
            stateChange_(replaced, OpenState::Opening);
    }
    wakeUp_.notify_one();
}

void PlaybackWorker::wake()
{
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wakeUp_.notify_one();
}

double PlaybackWorker::seconds(std::int64_t frame) const
{
    return static_cast<double>(frame) / decoder_->rate();
}

std::optional<std::chrono::microseconds> PlaybackWorker::wakeAfter()
{
    if (!decoder_)
        return std::nullopt;
    if (stalledSince_)
        return stallCheck;
    if (!sounding_)
        return std::nullopt;
    if (decodedAll_ || formatChanging_) {
        // Back when the last of it has been heard.
        const std::int64_t left = segmentWritten_ - output_->heardFrames();
        return std::chrono::microseconds(std::max<std::int64_t>(left * 1'000'000 / segmentRate_, 0) + 1000);
    }
    return output_->refillPeriod();
}

bool PlaybackWorker::waitForWork(std::unique_lock<std::mutex>& lock, std::uint64_t handledOpen,
                                 std::optional<std::chrono::microseconds> timeout)
{
    const auto ready = [&] { return stopping_ || woken_ || shared_.opensRequested.load() != handledOpen; };
    if (timeout)
        wakeUp_.wait_for(lock, *timeout, ready);
    else
        wakeUp_.wait(lock, ready);
    woken_ = false;
    return !stopping_;
}

void PlaybackWorker::run()
{
    // Named, so that tools that list threads show what this one is.
    pthread_setname_np(pthread_self(), "merlow-engine");
    output_->setWake([this] { wake(); });
    // The first file then plays without waiting for a connection.
    output_->warmUp();
    std::uint64_t handledOpen = 0;

    for (;;) {
        std::optional<OpenRequest> request;
        // Asked before the mutex is taken: the output's callbacks take its
        // own lock first and then this mutex, to wake this thread.
        const auto timeout = wakeAfter();
        {
            std::unique_lock lock(mutex_);
            if (!waitForWork(lock, handledOpen, timeout))
                break;
            if (shared_.opensRequested.load() != handledOpen) {
                handledOpen = shared_.opensRequested.load();
                request = OpenRequest{pendingPath_, handledOpen, pendingCommands_, openCancel_.get_token()};
            }
        }
        applyCommands();
        if (request)
            open(*request);
        if (output_->lost()) {
            if (decoder_)
                stopOnLostOutput();
            else
                output_->close();
        }
        if (!decoder_)
            continue;
        seek();
        const bool playing = shared_.playState.load() == PlayState::Playing;
        if (playing && !sounding_)
            startSounding();
        else if (!playing && sounding_)
            haltSounding();
        if (sounding_) {
            feed();
            if (reachedEnd())
                rewindAtEnd();
            else if (formatChanging_ && output_->heardFrames() >= segmentWritten_)
                continueInNewFormat();
        }
        if (stalledSince_ && std::chrono::steady_clock::now() - *stalledSince_ > stallLimit) {
            closeUnplayable("decoding makes no progress");
            continue;
        }
        publishPosition();
    }
    output_->close();
}

void PlaybackWorker::applyCommands()
{
    const std::uint64_t asked = shared_.commands.load(std::memory_order_acquire);
    if (asked == commandsApplied_)
        return;
    shared_.playState.store(shared_.commandedPlayState.load());
    shared_.commandsApplied.store(asked, std::memory_order_release);
    commandsApplied_ = asked;
}

void PlaybackWorker::open(const OpenRequest& request)
{
    if (sounding_)
        haltSounding();
    decoder_.reset();
    stalledSince_.reset();
    std::string error;
    std::unique_ptr<SampleSource> decoder = openSource_(request.path, error, request.cancel);
    if (!decoder) {
        reportOpen(request, false, error);
        return;
    }
    // The output takes the new file's format before anything of it is
    // written.
    if (!output_->prepare(decoder->rate(), decoder->channels(), error)) {
        reportOpen(request, false, "cannot open audio output: " + error);
        return;
    }
    decoder_ = std::move(decoder);
    path_ = request.path;
    nextFrame_ = 0;
    nextSeconds_ = 0.0;
    decodedAll_ = false;
    formatChanging_ = false;
    fadeIn_ = true;
    shared_.duration.store(seconds(decoder_->lengthFrames()));
    shared_.clock.publish(0.0, 0, false, 0.0);
    // It plays by itself, unless stopped meanwhile: the first sound is on
    // its way before the open is reported.
    if (shared_.commands.load() == request.commands)
        startSounding();
    reportOpen(request, true, {});
}

void PlaybackWorker::reportOpen(const OpenRequest& request, bool opened, const std::string& reason)
{
    const std::lock_guard lock(mutex_);
    // A newer file was asked for meanwhile: this outcome no longer counts.
    if (request.generation != shared_.opensRequested.load())
        return;
    const std::uint64_t asked = shared_.commands.load(std::memory_order_acquire);
    if (opened) {
        shared_.playState.store(asked == request.commands ? PlayState::Playing : shared_.commandedPlayState.load());
    } else {
        decoder_.reset();
        shared_.duration.store(0.0);
        shared_.playState.store(PlayState::Stopped);
    }
    shared_.commandsApplied.store(asked, std::memory_order_release);
    commandsApplied_ = asked;
    const int outcome = opened ? OpenState::Open : OpenState::Closed;
    shared_.openState.store(outcome);
    shared_.opensHandled.store(request.generation, std::memory_order_release);
    stateChange_(OpenState::Opening, outcome);
    if (!opened)
        failure_(request.path, reason);
}

void PlaybackWorker::seek()
{
    const std::uint64_t request = shared_.seekRequested.load();
    if (request == seeksDone_)
        return;
    if (sounding_) {
        output_->halt();
        sounding_ = false;
    }
    const std::int64_t length = decoder_->lengthFrames();
    const auto frame = static_cast<std::int64_t>(std::llround(shared_.seekTarget.load() * decoder_->rate()));
    restartDecodingAt(std::clamp<std::int64_t>(frame, 0, std::max<std::int64_t>(length, 0)));
    shared_.clock.publish(nextSeconds_, PlaybackClock::nowNs(), false, nextSeconds_);
    seeksDone_ = request;
    shared_.seekDone.store(request);
}

void PlaybackWorker::startSounding()
{
    std::string error;
    if (!output_->prepare(decoder_->rate(), decoder_->channels(), error)) {
        shared_.playState.store(PlayState::Stopped);
        failure_(path_, "cannot open audio output: " + error);
        return;
    }
    segmentStart_ = nextFrame_;
    segmentSeconds_ = nextSeconds_;
    segmentRate_ = decoder_->rate();
    segmentChannels_ = decoder_->channels();
    segmentWritten_ = 0;
    segmentEnded_ = false;
    feed();
    output_->start();
    sounding_ = true;
}

void PlaybackWorker::haltSounding()
{
    const std::int64_t resumeAt = output_->halt();
    sounding_ = false;
    restartDecodingAt(segmentStart_ + resumeAt);
    nextSeconds_ = segmentSeconds_ + static_cast<double>(resumeAt) / segmentRate_;
}

void PlaybackWorker::continueInNewFormat()
{
    output_->halt();
    sounding_ = false;
    formatChanging_ = false;
    fadeIn_ = false;
    nextSeconds_ = segmentSeconds_ + static_cast<double>(segmentWritten_) / segmentRate_;
    startSounding();
}

void PlaybackWorker::restartDecodingAt(std::int64_t frame)
{
    decoder_->seekToFrame(frame);
    nextFrame_ = frame;
    nextSeconds_ = seconds(frame);
    decodedAll_ = false;
    formatChanging_ = false;
    fadeIn_ = true;
    stalledSince_.reset();
}

void PlaybackWorker::feed()
{
    const int channels = segmentChannels_;
    const std::size_t chunkFrames = chunk_.size() / static_cast<std::size_t>(channels);
    while (!decodedAll_ && !formatChanging_) {
        const std::size_t room = std::min(output_->writable(), chunkFrames);
        if (room == 0)
            break;
        bool ended = false;
        const std::size_t got = decoder_->read(chunk_.data(), room * static_cast<std::size_t>(channels), ended) / channels;
        decodedAll_ = ended;
        // What came before a change of format is still in the old one.
        formatChanging_ = decoder_->rate() != segmentRate_ || decoder_->channels() != segmentChannels_;
        if (got == 0 && !ended && !formatChanging_) {
            if (!stalledSince_)
                stalledSince_ = std::chrono::steady_clock::now();
            break;
        }
        stalledSince_.reset();
        if (segmentWritten_ == 0 && fadeIn_)
            fadeIn(chunk_.data(), std::min(static_cast<int>(got), segmentRate_ / fadeInPerSecond), channels);
        output_->write(chunk_.data(), got);
        segmentWritten_ += static_cast<std::int64_t>(got);
        nextFrame_ += static_cast<std::int64_t>(got);
    }
    if ((decodedAll_ || formatChanging_) && !segmentEnded_) {
        output_->endOfData();
        segmentEnded_ = true;
    }
}

bool PlaybackWorker::reachedEnd()
{
    return decodedAll_ && output_->heardFrames() >= segmentWritten_;
}

void PlaybackWorker::rewindAtEnd()
{
    output_->halt();
    sounding_ = false;
    restartDecodingAt(0);
    // The position reads the top before the state reads stopped.
    shared_.clock.publish(0.0, PlaybackClock::nowNs(), false, 0.0);
    shared_.playState.store(PlayState::Stopped);
}

// The output went away: stop where the listener was, say so once, and open an
// output again at the next play.
void PlaybackWorker::stopOnLostOutput()
{
    const double heard = shared_.clock.heardSeconds(PlaybackClock::nowNs());
    output_->close();
    sounding_ = false;
    restartDecodingAt(static_cast<std::int64_t>(std::llround(heard * decoder_->rate())));
    shared_.clock.publish(heard, PlaybackClock::nowNs(), false, heard);
    shared_.playState.store(PlayState::Stopped);
    failure_(path_, "audio output was lost");
}

void PlaybackWorker::closeUnplayable(const std::string& reason)
{
    if (sounding_)
        output_->halt();
    sounding_ = false;
    decoder_.reset();
    stalledSince_.reset();
    shared_.duration.store(0.0);
    shared_.clock.publish(0.0, 0, false, 0.0);
    shared_.playState.store(PlayState::Stopped);
    const std::lock_guard lock(mutex_);
    // A newer file asked for meanwhile reports its own outcome.
    if (shared_.opensHandled.load() != shared_.opensRequested.load())
        return;
    shared_.openState.store(OpenState::Closed);
    stateChange_(OpenState::Open, OpenState::Closed);
    failure_(path_, reason);
}

void PlaybackWorker::publishPosition()
{
    if (!sounding_) {
        shared_.clock.publish(nextSeconds_, PlaybackClock::nowNs(), false, nextSeconds_);
        return;
    }
    const double heard = static_cast<double>(output_->heardFrames()) / segmentRate_;
    const double written = static_cast<double>(segmentWritten_) / segmentRate_;
    shared_.clock.publish(segmentSeconds_ + heard, PlaybackClock::nowNs(), true, segmentSeconds_ + written);
}
