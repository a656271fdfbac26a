// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpris/playbackwatch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "window/form1.h"

namespace {

using std::chrono::milliseconds;

// The end is looked for this long after the file should have been heard to
// its end, and again no sooner than the least wait while it still plays.
constexpr milliseconds endSlack{50};
constexpr milliseconds leastEndWait{100};
// A longer file is looked at again after a day.
constexpr double longestEndWaitSeconds = 86400.0;

} // namespace

PlaybackWatch::PlaybackWatch(Form1& window, const MediaEngine& engine, QObject* parent)
    : QObject(parent), engine_(engine), playState_(engine.playState())
{
    endOfFile_.setSingleShot(true);
    endOfFile_.setTimerType(Qt::PreciseTimer);
    connect(&endOfFile_, &QTimer::timeout, this, &PlaybackWatch::look);
    connect(&window, &Form1::commandRun, this, &PlaybackWatch::look);
    connect(&window, &Form1::openingFile, this, [this](const QString& path) { openingPath_ = path; });
    connect(&engine, &MediaEngine::openStateChange, this,
            [this](int /*oldState*/, int newState) { openStateChanged(newState); });
    connect(&engine, &MediaEngine::playbackFailed, this, &PlaybackWatch::look);
}

void PlaybackWatch::openStateChanged(int newState)
{
    if (newState == OpenState::Open) {
        // The engine read the tags as it opened the file: nothing of it is
        // read here.
        track_ = Track{++tracksOpened_, openingPath_, engine_.duration(), engine_.trackTags()};
        emit trackChanged();
    } else if (track_) {
        track_.reset();
        emit trackChanged();
    }
    look();
}

void PlaybackWatch::look()
{
    const int state = engine_.playState();
    if (state != playState_) {
        const int before = std::exchange(playState_, state);
        emit playStateChanged(state);
        if (state == PlayState::Stopped && before != PlayState::Stopped)
            emit positionJumped(engine_.currentPosition());
    }
    watchForTheEnd();
}

void PlaybackWatch::watchForTheEnd()
{
    if (playState_ != PlayState::Playing) {
        endOfFile_.stop();
        return;
    }
    double left = engine_.duration() - engine_.currentPosition();
    left = std::isfinite(left) ? std::clamp(left, 0.0, longestEndWaitSeconds) : 0.0;
    const auto untilEnd = milliseconds(std::lround(std::ceil(left * 1000.0)));
    endOfFile_.start(std::max(untilEnd + endSlack, leastEndWait));
}
