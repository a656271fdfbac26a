// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mediaplayer.h"

#include <cmath>

#include "platform/nativepath.h"

#include "engine/playbackshared.h"
#include "engine/playbackworker.h"

MediaPlayer::MediaPlayer(std::unique_ptr<AudioOutput> output, SourceOpener openSource, QObject* parent)
    : MediaEngine(parent), shared_(std::make_unique<PlaybackShared>())
{
    // The worker reports from its own thread; the signals reach receivers on
    // this object's thread through the event loop.
    worker_ = std::make_unique<PlaybackWorker>(
        *shared_, std::move(output), std::move(openSource),
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
        },
        [this](bool running) {
            QMetaObject::invokeMethod(
                this, [this, running] { emit clockRunningChanged(running); }, Qt::QueuedConnection);
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
