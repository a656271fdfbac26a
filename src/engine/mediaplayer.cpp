#include "engine/mediaplayer.h"

#include <cmath>

#include "platform/nativepath.h"

#include "engine/playbackshared.h"
#include "engine/playbackworker.h"

MediaPlayer::MediaPlayer(QObject* parent) : MediaEngine(parent), shared_(std::make_unique<PlaybackShared>())
{
    // The worker reports from its own thread; the signals reach receivers on
    // this object's thread through the event loop.
    worker_ = std::make_unique<PlaybackWorker>(
        *shared_,
        [this](int oldState, int newState) {
            QMetaObject::invokeMethod(
                this, [this, oldState, newState] { emit openStateChange(oldState, newState); },
                Qt::QueuedConnection);
        },
        [this](const std::string& path, const std::string& reason) {
            QMetaObject::invokeMethod(
                this,
                [this, file = pathFromNative(path), why = QString::fromStdString(reason)] {
                    emit playbackFailed(file, why);
                },
                Qt::QueuedConnection);
        });
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::setFileName(const QString& path)
{
    worker_->requestOpen(nativeFromPath(path));
}

int MediaPlayer::openState() const
{
    return shared_->openState.load();
}

int MediaPlayer::playState() const
{
    return shared_->playState.load();
}

double MediaPlayer::duration() const
{
    return shared_->openState.load() == OpenState::Open ? shared_->duration.load() : 0.0;
}

double MediaPlayer::currentPosition() const
{
    if (shared_->openState.load() != OpenState::Open)
        return 0.0;
    if (shared_->seekRequested.load() != shared_->seekDone.load())
        return shared_->seekTarget.load();
    const int rate = shared_->sampleRate.load();
    if (rate <= 0)
        return 0.0;
    return static_cast<double>(shared_->clock.heardFileFrame(PlaybackClock::nowNs())) / rate;
}

void MediaPlayer::setCurrentPosition(double seconds)
{
    shared_->seekTarget.store(std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0);
    shared_->seekRequested.fetch_add(1);
    worker_->wake();
}

void MediaPlayer::play()
{
    if (shared_->openState.load() != OpenState::Open)
        return;
    shared_->playState.store(PlayState::Playing);
    worker_->wake();
}

void MediaPlayer::pause()
{
    int playing = PlayState::Playing;
    shared_->playState.compare_exchange_strong(playing, PlayState::Paused);
}

void MediaPlayer::stop()
{
    shared_->playState.store(PlayState::Stopped);
    setCurrentPosition(0.0);
}
