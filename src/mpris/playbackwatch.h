// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QObject>
#include <QString>
#include <QTimer>

#include "mpris/trackmetadata.h"

class Form1;
class MediaEngine;

// Follows what the desktop is told of the player: the engine's play state,
// the file it has open with its tags, and jumps of the position. It looks
// only when something may have changed them: a transport command, the
// engine's notifications, and while playing, once when the file should have
// played to its end. Never at the progress timer's tick.
class PlaybackWatch : public QObject {
    Q_OBJECT
public:
    PlaybackWatch(Form1& window, const MediaEngine& engine, QObject* parent = nullptr);

    // The play state as last seen, which the signals report changes of.
    int playState() const { return playState_; }
    // The open file, if any.
    const std::optional<Track>& track() const { return track_; }

signals:
    void playStateChanged(int state);
    // A file was opened, or the open one was closed or is being replaced.
    void trackChanged();
    // The position moved by itself to `seconds`: a rewind on stop or at the
    // end of the file.
    void positionJumped(double seconds);

private:
    void look();
    void openStateChanged(int newState);
    void watchForTheEnd();

    const MediaEngine& engine_;
    int playState_;
    std::optional<Track> track_;
    quint64 tracksOpened_ = 0;
    QString openingPath_;
    QTimer endOfFile_;
};
