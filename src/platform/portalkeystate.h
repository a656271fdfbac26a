// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include "platform/keystate.h"

class QDBusError;
class QDBusMessage;

// The desktop's global shortcuts, through its portal
// (org.freedesktop.portal.GlobalShortcuts), for a Wayland desktop where no
// program may read the keyboard: two shortcuts, "Play, pause or resume" and
// "Stop", on triggers the user confirms or chooses in the desktop's own
// settings. While a trigger is held (from the portal's Activated to its
// Deactivated) Caps Lock and the shortcut's letter read as down (bit 15), so
// the chords' rules apply unchanged; a trigger pressed since the last sample
// also sets bit 0, so that a tap shorter than a tick acts once.
//
// Runs on the thread that made it, through the bus's own event dispatch;
// nothing waits. start() asks for the session, once: where the portal is
// missing, refuses, or goes away, `unavailable` says why, once, every key
// reads as up from then on, and nothing is asked again.
class PortalKeyState : public QObject, public KeyStateSource {
    Q_OBJECT
public:
    // The shortcuts' ids, as the desktop's settings keep them.
    static constexpr const char* playPauseId = "play-pause";
    static constexpr const char* stopId = "stop";

    // Talks to the portal on `bus`, and names the program to it as `appId`
    // where the portal asks unsandboxed programs who they are.
    PortalKeyState(QDBusConnection bus, QString appId, QObject* parent = nullptr);
    ~PortalKeyState() override;

    void start();

    void sample() override;
    std::uint16_t GetAsyncKeyState(int virtualKey) override;

signals:
    // The shortcuts are bound: the triggers as the desktop describes them,
    // empty for one the user has not set.
    void bound(const QString& playPauseTrigger, const QString& stopTrigger);
    void unavailable(const QString& reason);

private slots:
    void onShortcutSignal(const QDBusMessage& message);
    void onSessionClosed(const QVariantMap& details);
    void onPortalGone();

private:
    void createSession();
    void bindShortcuts();
    void onBound(const QVariantMap& results);
    // Calls `method` on the portal's shortcuts interface with a request
    // token in `options`, then runs `answered` with the request's Response.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap& options,
                 std::function<void(uint response, const QVariantMap& results)> answered);
    void fail(const QString& reason);
    static QString missingReason(const QDBusError& error);

    QDBusConnection bus_;
    const QString appId_;
    QString session_;
    bool failed_ = false;
    int requests_ = 0;
    // Shortcuts held now, and those pressed since the last sample.
    QSet<QString> held_;
    QSet<QString> pressedSinceSample_;
    // As the last sample found them.
    std::uint16_t playPauseWord_ = 0;
    std::uint16_t stopWord_ = 0;
};
