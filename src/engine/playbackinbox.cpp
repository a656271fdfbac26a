// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/playbackinbox.h"

#include <utility>

#include "engine/enginelog.h"
#include "engine/playbackshared.h"

PlaybackInbox::PlaybackInbox(PlaybackShared& shared, StateChange stateChange)
    : shared_(shared), stateChange_(std::move(stateChange))
{
}

void PlaybackInbox::requestOpen(const std::string& path)
{
    {
        const std::lock_guard lock(mutex_);
        const int replaced = shared_.currentOpenState();
        pendingPath_ = path;
        // A new file stops the old one at once.
        shared_.commandedPlayState.store(PlayState::Stopped);
        pendingCommands_ = shared_.commands.load() + 1;
        shared_.commands.store(pendingCommands_, std::memory_order_release);
        pendingSeeks_ = shared_.seekRequested.load();
        const std::uint64_t generation = shared_.opensRequested.fetch_add(1) + 1;
        openCancel_.request_stop();
        openCancel_ = std::stop_source();
        // Reported under the lock, so it is always reported before the outcome.
        if (replaced != OpenState::Opening)
            stateChange_(replaced, OpenState::Opening);
        // Logged under the lock too, before the engine's thread can log the outcome.
        qCDebug(engineLog, "open %llu asked for: %s", static_cast<unsigned long long>(generation), path.c_str());
    }
    wakeUp_.notify_one();
}

void PlaybackInbox::wake()
{
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wakeUp_.notify_one();
}

void PlaybackInbox::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        openCancel_.request_stop();
    }
    wakeUp_.notify_one();
}

void PlaybackInbox::abandonOpen()
{
    const std::lock_guard lock(mutex_);
    openCancel_.request_stop();
}

bool PlaybackInbox::waitForWork(std::optional<std::chrono::microseconds> timeout, std::optional<OpenRequest>& open)
{
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return stopping_ || woken_ || shared_.opensRequested.load() != handedOpen_; };
    if (timeout)
        wakeUp_.wait_for(lock, *timeout, ready);
    else
        wakeUp_.wait(lock, ready);
    woken_ = false;
    if (stopping_)
        return false;
    if (shared_.opensRequested.load() != handedOpen_) {
        handedOpen_ = shared_.opensRequested.load();
        open = OpenRequest{pendingPath_, handedOpen_, pendingCommands_, pendingSeeks_, openCancel_.get_token()};
    }
    return true;
}

bool PlaybackInbox::reportUnlessSuperseded(std::uint64_t generation, const std::function<void()>& report)
{
    const std::lock_guard lock(mutex_);
    if (stopping_ || generation != shared_.opensRequested.load())
        return false;
    report();
    return true;
}
