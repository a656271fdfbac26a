// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpris/playeradaptor.h"

#include <cmath>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "mpris/playbackwatch.h"
#include "window/form1.h"

QString playbackStatusText(int playState)
{
    switch (playState) {
    case PlayState::Playing:
        return QStringLiteral("Playing");
    case PlayState::Paused:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

PlayerAdaptor::PlayerAdaptor(Form1& window, const MediaEngine& engine, const PlaybackWatch& watch, QObject* exported)
    : QDBusAbstractAdaptor(exported), window_(window), engine_(engine), watch_(watch)
{
}

QString PlayerAdaptor::playbackStatus() const
{
    return playbackStatusText(engine_.playState());
}

QVariantMap PlayerAdaptor::metadata() const
{
    return watch_.track() ? trackMetadata(*watch_.track()) : QVariantMap();
}

qlonglong PlayerAdaptor::position() const
{
    const double seconds = engine_.currentPosition();
    return std::isfinite(seconds) && seconds > 0.0 ? std::llround(seconds * 1e6) : 0;
}

bool PlayerAdaptor::canPlay() const
{
    return watch_.track().has_value();
}

void PlayerAdaptor::Play()
{
    window_.runCommand(&Form1::play);
}

void PlayerAdaptor::Pause()
{
    window_.runCommand(&Form1::pause);
}

void PlayerAdaptor::PlayPause()
{
    window_.runCommand(engine_.playState() == PlayState::Playing ? &Form1::pause : &Form1::play);
}

void PlayerAdaptor::Stop()
{
    window_.runCommand(&Form1::stop);
}
