// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

class Form1;
class MediaEngine;
class PlaybackWatch;
class PlayerAdaptor;

// The player on the session bus for the desktop's media keys and controls,
// as an MPRIS 2 media player: /org/mpris/MediaPlayer2 under the name
// org.mpris.MediaPlayer2.merlow, or that name with .instance<pid> when
// another player has it.
class MprisService : public QObject {
    Q_OBJECT
public:
    // `window` and `engine` outlive the service.
    MprisService(Form1& window, const MediaEngine& engine, QObject* parent = nullptr);
    ~MprisService() override;

    // Takes a name on the session bus. Returns false and sets `error` when
    // there is no session bus or no name could be had; the player then runs
    // without.
    bool publish(QString& error);
    // The name taken, once published.
    QString busName() const { return busName_; }

private:
    void announcePlayerChanges(const QVariantMap& changed);
    bool requestName(const QString& name, QString& error);

    PlaybackWatch* watch_;
    PlayerAdaptor* player_;
    std::optional<QDBusConnection> bus_;
    QString busName_;
};
