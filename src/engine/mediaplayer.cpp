// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mediaplayer.h"

#include <cmath>
#include <mutex>

#include "platform/nativepath.h"

#include "engine/enginelog.h"
#include "engine/playbackshared.h"
#include "engine/playbackworker.h"

namespace {

// Closing waits this long for the engine's thread to end; a thread held in
// a read longer is left behind, so that the program ends at once anyway.
constexpr std::chrono::milliseconds endingLimit{250};

} // namespace

// Where the engine's thread hands its reports over to the player, which gets
// them on its own thread through the event loop; once the player has gone,
// they go nowhere. The mutex is taken after the inbox's, and nothing else is
// taken while it is held.
class MediaPlayer::Reports {
public:
    explicit Reports(MediaPlayer* player) : player_(player) {}

    template <typename Report>
    void post(Report report)
    {
        const std::lock_guard lock(mutex_);
        if (player_ != nullptr)
            QMetaObject::invokeMethod(player_, std::move(report), Qt::QueuedConnection);
    }

    void forgetPlayer()
    {
        const std::lock_guard lock(mutex_);
        player_ = nullptr;
    }

private:
    std::mutex mutex_;
    MediaPlayer* player_;
};

MediaPlayer::MediaPlayer(std::unique_ptr<AudioOutput> output, SourceOpener openSource, QObject* parent)
    : MediaEngine(parent), shared_(std::make_unique<PlaybackShared>()), reports_(std::make_shared<Reports>(this))
{
    // The worker reports from its own thread, and may outlive this object
    // (see the destructor): its callbacks hold the reports, not this object.
    worker_ = std::make_unique<PlaybackWorker>(
        *shared_, std::move(output), std::move(openSource),
        [reports = reports_, this](int oldState, int newState) {
            reports->post([this, oldState, newState] { emit openStateChange(oldState, newState); });
        },
        [reports = reports_, this](const std::string& path, const std::string& reason) {
            reports->post([this, file = pathFromNative(path), why = QString::fromStdString(reason)] {
                emit playbackFailed(file, why);
            });
        },
        [reports = reports_, this](bool running) {
            reports->post([this, running] { emit clockRunningChanged(running); });
        },
        [reports = reports_, this](const TrackTags& tags) { reports->post([this, tags] { tags_ = tags; }); });
}

MediaPlayer::~MediaPlayer()
{
    reports_->forgetPlayer();
    if (worker_->endWithin(endingLimit))
        return;
    // The engine's thread is held in the kernel, in a read of a file that
    // does not answer. It is left to itself with all it uses, which is
    // never freed: it ends with the program.
    qCDebug(engineLog, "the engine's thread is left behind, held in a read");
    static_cast<void>(worker_.release());
    static_cast<void>(shared_.release());
}

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
    // A file still opening is given up: no more of it is read.
    worker_->abandonOpen();
    command(PlayState::Stopped);
    setCurrentPosition(0.0);
}

TrackTags MediaPlayer::trackTags() const
{
    return tags_;
}
