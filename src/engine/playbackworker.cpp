#include "engine/playbackworker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "engine/audiooutput.h"
#include "engine/playbackshared.h"

PlaybackWorker::PlaybackWorker(PlaybackShared& shared, StateChange stateChange, Failure failure)
    : shared_(shared), stateChange_(std::move(stateChange)), failure_(std::move(failure)), chunk_(8192),
      thread_([this] { run(); })
{
}

PlaybackWorker::~PlaybackWorker()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeUp_.notify_one();
    thread_.join();
}

void PlaybackWorker::requestOpen(const std::string& path)
{
    {
        const std::lock_guard lock(mutex_);
        pendingPath_ = path;
        ++openGeneration_;
        shared_.playState.store(PlayState::Stopped);
        // Reported under the lock, so it is always reported before the outcome.
        const int replaced = shared_.openState.exchange(OpenState::Opening);
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

bool PlaybackWorker::waitForWork(std::unique_lock<std::mutex>& lock, std::uint64_t handledOpen, bool timed,
                                 int bufferFrames)
{
    const auto ready = [&] { return stopping_ || woken_ || openGeneration_ != handledOpen; };
    if (timed) {
        // While playing, look again twice a buffer: to decode ahead and to
        // notice the end of the file.
        const int rate = std::max(1, shared_.sampleRate.load());
        const std::int64_t halfBuffer = std::int64_t{bufferFrames} * 500'000 / rate;
        wakeUp_.wait_for(lock, std::chrono::microseconds(std::max<std::int64_t>(halfBuffer, 5000)), ready);
    } else {
        wakeUp_.wait(lock, ready);
    }
    woken_ = false;
    return !stopping_;
}

void PlaybackWorker::run()
{
    AudioOutput output(shared_);
    std::uint64_t handledOpen = 0;

    for (;;) {
        std::optional<OpenRequest> request;
        {
            std::unique_lock lock(mutex_);
            const bool timed = decoder_ && shared_.playState.load() == PlayState::Playing;
            if (!waitForWork(lock, handledOpen, timed, output.bufferFrames()))
                break;
            if (openGeneration_ != handledOpen) {
                request = OpenRequest{pendingPath_, openGeneration_};
                handledOpen = openGeneration_;
            }
        }
        if (request) {
            open(*request, output);
            continue;
        }
        if (!decoder_)
            continue;
        if (output.lost())
            stopOnLostOutput(output);
        if (!output.isOpen() && shared_.playState.load() == PlayState::Playing)
            reopenOutput(output);
        if (shared_.seekRequested.load() != shared_.seekDone.load())
            seek(output);
        decodeAhead();
        if (reachedEnd())
            rewindAtEnd(output);
    }
}

void PlaybackWorker::open(const OpenRequest& request, AudioOutput& output)
{
    decoder_.reset();
    output.restartAt(0);
    std::string error;
    std::unique_ptr<Decoder> decoder = Decoder::open(request.path, error);
    if (!decoder) {
        finishOpen(request.generation, false, request.path, error);
        return;
    }
    // Decode ahead before a new device starts, so its first buffer can
    // already play.
    decoder_ = std::move(decoder);
    path_ = request.path;
    decodedEnd_ = 0;
    decodedAll_ = false;
    decodeAhead();
    if (!output.ensureOpen(decoder_->rate(), decoder_->channels(), error)) {
        decoder_.reset();
        finishOpen(request.generation, false, request.path, "cannot open audio output: " + error);
        return;
    }
    shared_.sampleRate.store(decoder_->rate());
    shared_.duration.store(static_cast<double>(decoder_->lengthFrames()) / decoder_->rate());
    finishOpen(request.generation, true, request.path, {});
    output.start();
}

void PlaybackWorker::finishOpen(std::uint64_t generation, bool opened, const std::string& path,
                                const std::string& reason)
{
    const std::lock_guard lock(mutex_);
    // A newer file was asked for meanwhile: this outcome no longer counts.
    if (generation != openGeneration_)
        return;
    if (opened) {
        shared_.seekDone.store(shared_.seekRequested.load());
        shared_.playState.store(PlayState::Playing);
        shared_.openState.store(OpenState::Open);
        stateChange_(OpenState::Opening, OpenState::Open);
    } else {
        decoder_.reset();
        shared_.duration.store(0.0);
        shared_.playState.store(PlayState::Stopped);
        shared_.openState.store(OpenState::Closed);
        stateChange_(OpenState::Opening, OpenState::Closed);
        failure_(path, reason);
    }
}

void PlaybackWorker::seek(AudioOutput& output)
{
    const std::uint64_t request = shared_.seekRequested.load();
    const double target = shared_.seekTarget.load();
    const std::int64_t length = decoder_->lengthFrames();
    auto frame = static_cast<std::int64_t>(std::llround(target * decoder_->rate()));
    frame = std::clamp<std::int64_t>(frame, 0, length > 0 ? length : 0);
    restartDecodingAt(output, frame);
    shared_.seekDone.store(request);
}

void PlaybackWorker::restartDecodingAt(AudioOutput& output, std::int64_t frame)
{
    decoder_->seekToFrame(frame);
    output.restartAt(frame);
    decodedEnd_ = frame;
    decodedAll_ = false;
    decodeAhead();
}

void PlaybackWorker::decodeAhead()
{
    const auto channels = static_cast<std::size_t>(decoder_->channels());
    while (!decodedAll_) {
        std::size_t room = std::min(shared_.ring.writable(), chunk_.size());
        room -= room % channels;
        if (room == 0)
            return;
        bool ended = false;
        const std::size_t got = decoder_->read(chunk_.data(), room, ended);
        shared_.ring.write(chunk_.data(), got);
        decodedEnd_ += static_cast<std::int64_t>(got / channels);
        decodedAll_ = ended;
    }
}

bool PlaybackWorker::reachedEnd() const
{
    return decodedAll_ && shared_.playState.load() == PlayState::Playing && shared_.ring.readable() == 0
           && shared_.clock.heardFileFrame(PlaybackClock::nowNs()) >= decodedEnd_;
}

void PlaybackWorker::rewindAtEnd(AudioOutput& output)
{
    // A rewind to the top is pending before the state reads stopped, so the
    // position never reads the end once it does.
    shared_.seekTarget.store(0.0);
    shared_.seekRequested.fetch_add(1);
    int playing = PlayState::Playing;
    shared_.playState.compare_exchange_strong(playing, PlayState::Stopped);
    seek(output);
}

// The sound device went away: stop where the listener was, say so once, and
// open a device again at the next play.
void PlaybackWorker::stopOnLostOutput(AudioOutput& output)
{
    const std::int64_t heard = shared_.clock.heardFileFrame(PlaybackClock::nowNs());
    output.close();
    shared_.playState.store(PlayState::Stopped);
    restartDecodingAt(output, heard);
    failure_(path_, "audio output was lost");
}

void PlaybackWorker::reopenOutput(AudioOutput& output)
{
    std::string error;
    if (!output.ensureOpen(decoder_->rate(), decoder_->channels(), error)) {
        shared_.playState.store(PlayState::Stopped);
        failure_(path_, "cannot open audio output: " + error);
        return;
    }
    output.start();
}
