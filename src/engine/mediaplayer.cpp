// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mediaplayer.h"

#include <cmath>

#include "platform/nativepath.h"

#include "engine/playbackshared.h"
#include "engine/playbackworker.h"

MediaPlayer::MediaPlayer(std::unique_ptr<AudioOutput> output, SourceOpener openSource, QObject* parent)
    : MediaEngine(parent), shared_(std::make_unique<PlaybackShared>())
{
    // The worker reports from its own thread. Each report is a queued call of
    // this object's signal, its arguments copied and handed over by Qt, which
    // emits it on this object's thread: no object of this code's crosses the
    // threads through Qt's event queue, whose locking ThreadSanitizer cannot
    // see.
    worker_ = std::make_unique<PlaybackWorker>(
        *shared_, std::move(output), std::move(openSource),
        [this](int oldState, int newState) {
            QMetaObject::invokeMethod(this, "openStateChange", Qt::QueuedConnection, Q_ARG(int, oldState),
                                      Q_ARG(int, newState));
        },
        [this](const std::string& path, const std::string& reason) {
            QMetaObject::invokeMethod(this, "playbackFailed", Qt::QueuedConnection,
                                      Q_ARG(QString, pathFromNative(path)),
                                      Q_ARG(QString, QString::fromStdString(reason)));
        },
        [this](bool running) {
            QMetaObject::invokeMethod(this, "clockRunningChanged", Qt::QueuedConnection, Q_ARG(bool, running));
        });
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::setFileName(const QString& path)
{
    worker_->requestOpen(nativeFromPath(path));
}

int MediaPlayer::openState() const
{
    return shared_->currentOpenState();
}

int MediaPlayer::playState() const
{
    return shared_->currentPlayState();
}

double MediaPlayer::duration() const
{
    return openState() == OpenState::Open ? shared_->duration.load() : 0.0;
}

double MediaPlayer::currentPosition() const
{
    if (openState() != OpenState::Open)
        return 0.0;
    if (shared_->seekRequested.load() != shared_->seekDone.load())
        return shared_->seekTarget.load();
    return shared_->clock.heardSeconds(PlaybackClock::nowNs());
}

void MediaPlayer::setCurrentPosition(double seconds)
{
    shared_->seekTarget.store(std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0);
    shared_->seekRequested.fetch_add(1);
    worker_->wake();
}

void MediaPlayer::command(int playState)
{
    shared_->commandedPlayState.store(playState);
    shared_->commands.fetch_add(1, std::memory_order_release);
    worker_->wake();
}

void MediaPlayer::play()
{
    if (openState() == OpenState::Open)
        command(PlayState::Playing);
}

void MediaPlayer::pause()
{
    if (playState() == PlayState::Playing)
        command(PlayState::Paused);
}

void MediaPlayer::stop()
{
    command(PlayState::Stopped);
    setCurrentPosition(0.0);
}
