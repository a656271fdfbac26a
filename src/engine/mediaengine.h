// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include "decode/tracktags.h"

// What the window requires of a media engine. Every call succeeds in every
// state, with or without a file. Time is in seconds.
class MediaEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the file, replacing any open one; it plays by itself once open.
    virtual void setFileName(const QString& path) = 0;
    virtual int openState() const = 0;
    virtual int playState() const = 0;
    virtual double duration() const = 0;
    virtual double currentPosition() const = 0;
    virtual void setCurrentPosition(double seconds) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    // The open file's title and artist, read from its tags as it was opened
    // and handed over with the open's outcome: they are current when
    // openStateChange reports it open. Empty where it has none.
    virtual TrackTags trackTags() const = 0;

signals:
    void openStateChange(int oldState, int newState);
    // A file could not be played, or audio output could not be opened.
    void playbackFailed(const QString& path, const QString& reason);
    // The position has started (true) or stopped (false) moving on by
    // itself: it moves only while playing and the output is sounding.
    // Queued; starts out stopped.
    void clockRunningChanged(bool running);
};
