// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QVariantMap>

class Form1;
class MediaEngine;
class PlaybackWatch;

// org.mpris.MediaPlayer2.Player: play, pause and stop run the window's own
// commands, with their guards, exactly as its buttons do. There is one file
// and no seeking, so the moves between tracks and within one do nothing, and
// the abilities say so. Rate and volume stay at 1.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ cannot)
    Q_PROPERTY(bool CanGoPrevious READ cannot)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ cannot)
    Q_PROPERTY(bool CanControl READ canControl)
public:
    PlayerAdaptor(Form1& window, const MediaEngine& engine, const PlaybackWatch& watch, QObject* exported);

    QString playbackStatus() const;
    static double rate() { return 1.0; }
    void setRate(double /*rate*/) {}
    QVariantMap metadata() const;
    static double volume() { return 1.0; }
    void setVolume(double /*volume*/) {}
    qlonglong position() const;
    bool canPlay() const;
    bool canPause() const { return canPlay(); }
    static bool canControl() { return true; }
    static bool cannot() { return false; }

public slots:
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next() {}
    void Previous() {}
    // Named as the interface names them, for its introspection.
    void Seek([[maybe_unused]] qlonglong Offset) {}
    void SetPosition([[maybe_unused]] const QDBusObjectPath& TrackId, [[maybe_unused]] qlonglong Position) {}
    void OpenUri([[maybe_unused]] const QString& Uri) {}

signals:
    void Seeked(qlonglong Position);

private:
    Form1& window_;
    const MediaEngine& engine_;
    const PlaybackWatch& watch_;
};

// The status text for an engine play state.
QString playbackStatusText(int playState);
