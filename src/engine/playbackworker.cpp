// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/playbackworker.h"

#include <algorithm>
#include <cmath>

#include <pthread.h>

#include "output/fade.h"
#include "engine/enginelog.h"
#include "engine/playbackshared.h"

namespace {

// A decoder that gives nothing for this long without saying it ended is
// given up on: the file cannot be played.
constexpr std::chrono::seconds stallLimit{1};
constexpr std::chrono::milliseconds stallCheck{100};
// The fade in at each start, so that sound starting mid-wave does not click.
constexpr int fadeInPerSecond = 200;
// The fade out at each halt: long enough that a tone cut at its peak steps
// no more than the tone itself does, short enough that a pause is silent
// within a few milliseconds of the output's next cycle.
constexpr std::chrono::milliseconds fadeOutLength{3};

std::int64_t framesIn(std::chrono::milliseconds span, int rate)
{
    return span.count() * rate / 1000;
}

} // namespace

PlaybackWorker::PlaybackWorker(PlaybackShared& shared, std::unique_ptr<AudioOutput> output, SourceOpener openSource,
                               StateChange stateChange, Failure failure, ClockChange clockChange, TagsRead tagsRead)
    : shared_(shared), stateChange_(stateChange), failure_(std::move(failure)), clockChange_(std::move(clockChange)),
      tagsRead_(std::move(tagsRead)),
      inbox_(shared, std::move(stateChange)),
      output_(std::move(output)), openSource_(std::move(openSource)), chunk_(16384), thread_([this] { run(); })
{
}

PlaybackWorker::~PlaybackWorker()
{
    if (thread_.joinable())
        endWithin(std::chrono::milliseconds::max());
}

bool PlaybackWorker::endWithin(std::chrono::milliseconds limit)
{
    inbox_.stop();
    // A wait on the sound server in progress ends now, not at its deadline.
    output_->abandonWaits();
    if (limit != std::chrono::milliseconds::max()
        && ended_.get_future().wait_for(limit) != std::future_status::ready) {
        thread_.detach();
        return false;
    }
    thread_.join();
    return true;
}

void PlaybackWorker::abandonOpen()
{
    inbox_.abandonOpen();
}

void PlaybackWorker::requestOpen(const std::string& path)
{
    inbox_.requestOpen(path);
}

void PlaybackWorker::wake()
{
    inbox_.wake();
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
    // Back when the last of it has been heard.
    if (decodedAll_ || formatChanging_)
        return segment_.timeLeft(output_->heardFrames()) + std::chrono::milliseconds(1);
    return output_->refillPeriod();
}

void PlaybackWorker::run()
{
    // Named, so that tools that list threads show what this one is.
    pthread_setname_np(pthread_self(), "merlow-engine");
    output_->setWake([this] { inbox_.wake(); });
    // The first file then plays without waiting for a connection; warming
    // up waits on nothing, so a stop is seen at once.
    output_->warmUp();

    for (;;) {
        reportClock();
        std::optional<OpenRequest> request;
        // wakeAfter() asks the output, so it runs before the inbox takes
        // its mutex.
        if (!inbox_.waitForWork(wakeAfter(), request))
            break;
        applyCommands();
        if (request) {
            // A new file starts at its top: seeks asked for before it, such as
            // the rewind of a stop with no file open, are done with.
            open(*request);
            seeksDone_ = std::max(seeksDone_, request->seeks);
            shared_.seekDone.store(seeksDone_);
        }
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
            else if (formatChanging_ && segment_.allHeard(output_->heardFrames()))
                continueInNewFormat();
        }
        if (stalledSince_ && std::chrono::steady_clock::now() - *stalledSince_ > stallLimit) {
            closeUnplayable("decoding makes no progress");
            continue;
        }
        publishPosition();
    }
    output_->close();
    ended_.set_value();
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

void PlaybackWorker::seek()
{
    const std::uint64_t request = shared_.seekRequested.load();
    if (request == seeksDone_)
        return;
    if (sounding_) {
        output_->halt(haltFade_);
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
    if (!prepareOutput(*decoder_, error)) {
        qCDebug(engineLog, "playing stopped: %s", error.c_str());
        shared_.playState.store(PlayState::Stopped);
        failure_(path_, error);
        return;
    }
    const int rate = decoder_->rate();
    segment_ = PlaybackSegment{nextFrame_, nextSeconds_, rate, decoder_->channels()};
    haltFade_.restart(segment_.channels, framesIn(output_->keptForFade(), rate), framesIn(fadeOutLength, rate));
    feed();
    output_->start();
    sounding_ = true;
}

void PlaybackWorker::haltSounding()
{
    const std::int64_t resumeAt = output_->halt(haltFade_);
    sounding_ = false;
    restartDecodingAt(segment_.fileFrame(resumeAt));
    nextSeconds_ = segment_.seconds(resumeAt);
}

void PlaybackWorker::continueInNewFormat()
{
    output_->halt(haltFade_);
    sounding_ = false;
    formatChanging_ = false;
    fadeIn_ = false;
    nextSeconds_ = segment_.writtenSeconds();
    qCDebug(engineLog, "format changes at %.3f s to %d Hz, %d channels", nextSeconds_, decoder_->rate(),
            decoder_->channels());
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
    const int channels = segment_.channels;
    const std::size_t chunkFrames = chunk_.size() / static_cast<std::size_t>(channels);
    while (!decodedAll_ && !formatChanging_) {
        const std::size_t room = std::min(output_->writable(), chunkFrames);
        if (room == 0)
            break;
        bool ended = false;
        const std::size_t got = decoder_->read(chunk_.data(), room * static_cast<std::size_t>(channels), ended) / channels;
        decodedAll_ = ended;
        // What came before a change of format is still in the old one.
        formatChanging_ = decoder_->rate() != segment_.rate || decoder_->channels() != segment_.channels;
        if (got == 0 && !ended && !formatChanging_) {
            if (!stalledSince_)
                stalledSince_ = std::chrono::steady_clock::now();
            break;
        }
        stalledSince_.reset();
        if (segment_.written == 0 && fadeIn_)
            fadeIn(chunk_.data(), std::min(static_cast<int>(got), segment_.rate / fadeInPerSecond), channels);
        output_->write(chunk_.data(), got);
        haltFade_.append(chunk_.data(), got);
        segment_.written += static_cast<std::int64_t>(got);
        nextFrame_ += static_cast<std::int64_t>(got);
    }
    if ((decodedAll_ || formatChanging_) && !segment_.ended) {
        output_->endOfData();
        segment_.ended = true;
    }
}

bool PlaybackWorker::reachedEnd()
{
    return decodedAll_ && segment_.allHeard(output_->heardFrames());
}

void PlaybackWorker::rewindAtEnd()
{
    qCDebug(engineLog, "end of file at %.3f s", segment_.writtenSeconds());
    output_->halt(haltFade_);
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
    qCDebug(engineLog, "output lost at %.3f s", heard);
    output_->close();
    sounding_ = false;
    restartDecodingAt(static_cast<std::int64_t>(std::llround(heard * decoder_->rate())));
    shared_.clock.publish(heard, PlaybackClock::nowNs(), false, heard);
    shared_.playState.store(PlayState::Stopped);
    failure_(path_, "audio output was lost");
}

void PlaybackWorker::publishPosition()
{
    if (!sounding_) {
        shared_.clock.publish(nextSeconds_, PlaybackClock::nowNs(), false, nextSeconds_);
        return;
    }
    // Moved on in real time between readings only while the output says
    // what is heard moves on: a suspended sink holds it where it is.
    const bool advancing = output_->heardAdvances();
    const std::int64_t heard = output_->heardFrames();
    shared_.clock.publish(segment_.seconds(heard), PlaybackClock::nowNs(), advancing, segment_.writtenSeconds());
}

void PlaybackWorker::reportClock()
{
    const bool running = shared_.clock.running();
    if (running == clockReportedRunning_)
        return;
    clockReportedRunning_ = running;
    clockChange_(running);
}
