#include "engine/playbackworker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include <pthread.h>

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
        shared_.playingBeforeOpen.store(false);
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

namespace {

// A device that has played nothing for this long is closed, so that neither
// it nor the sound server works on silence; Play opens a new one, whose first
// buffer already plays.
constexpr std::chrono::seconds idleDeviceRelease{1};

} // namespace

std::optional<std::chrono::microseconds> PlaybackWorker::wakeAfter(const AudioOutput& output) const
{
    if (!decoder_)
        return std::nullopt;
    if (shared_.playState.load() == PlayState::Playing) {
        // Twice a buffer: to decode ahead and to notice the end of the file.
        const int rate = std::max(1, shared_.sampleRate.load());
        const std::int64_t halfBuffer = std::int64_t{output.bufferFrames()} * 500'000 / rate;
        return std::chrono::microseconds(std::max<std::int64_t>(halfBuffer, 5000));
    }
    if (output.isOpen())
        return idleDeviceRelease;
    return std::nullopt;
}

bool PlaybackWorker::waitForWork(std::unique_lock<std::mutex>& lock, std::uint64_t handledOpen,
                                 std::optional<std::chrono::microseconds> timeout)
{
    const auto ready = [&] { return stopping_ || woken_ || openGeneration_ != handledOpen; };
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
    AudioOutput output(shared_);
    std::uint64_t handledOpen = 0;

    for (;;) {
        std::optional<OpenRequest> request;
        {
            std::unique_lock lock(mutex_);
            if (!waitForWork(lock, handledOpen, wakeAfter(output)))
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
        releaseIdleOutput(output);
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
    decoder_ = std::move(decoder);
    path_ = request.path;
    decodedEnd_ = 0;
    decodedAll_ = false;
    // A new device asks for its first buffer the moment it opens, and a
    // sound server queues it ahead of all that follows: decoded and marked
    // playing before, that buffer is already the file's.
    decodeAhead();
    {
        const std::lock_guard lock(mutex_);
        if (request.generation == openGeneration_)
            shared_.playingBeforeOpen.store(true);
    }
    if (!output.ensureOpen(decoder_->rate(), decoder_->channels(), error)) {
        decoder_.reset();
        finishOpen(request.generation, false, request.path, "cannot open audio output: " + error);
        return;
    }
    shared_.sampleRate.store(decoder_->rate());
    shared_.duration.store(static_cast<double>(decoder_->lengthFrames()) / decoder_->rate());
    finishOpen(request.generation, true, request.path, {});
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
        shared_.playingBeforeOpen.store(false);
        shared_.openState.store(OpenState::Open);
        stateChange_(OpenState::Opening, OpenState::Open);
    } else {
        shared_.playingBeforeOpen.store(false);
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

void PlaybackWorker::releaseIdleOutput(AudioOutput& output)
{
    if (!output.isOpen() || shared_.playState.load() == PlayState::Playing) {
        idleSince_.reset();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!idleSince_)
        idleSince_ = now;
    if (now - *idleSince_ < idleDeviceRelease)
        return;
    // All it was given has been heard by now: go on later from there.
    const std::int64_t heard = shared_.clock.heardFileFrame(PlaybackClock::nowNs());
    output.close();
    restartDecodingAt(output, heard);
    idleSince_.reset();
}

void PlaybackWorker::reopenOutput(AudioOutput& output)
{
    std::string error;
    if (!output.ensureOpen(decoder_->rate(), decoder_->channels(), error)) {
        shared_.playState.store(PlayState::Stopped);
        failure_(path_, "cannot open audio output: " + error);
    }
}
