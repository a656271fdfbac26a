// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpris/mprisservice.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>

#include "mpris/mprislog.h"
#include "mpris/playbackwatch.h"
#include "mpris/playeradaptor.h"
#include "mpris/rootadaptor.h"
#include "platform/sessionbus.h"
#include "window/form1.h"

namespace {

const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString baseName = QStringLiteral("org.mpris.MediaPlayer2.merlow");

} // namespace

MprisService::MprisService(Form1& window, const MediaEngine& engine, QObject* parent)
    : QObject(parent), watch_(new PlaybackWatch(window, engine, this)),
      player_(new PlayerAdaptor(window, engine, *watch_, this))
{
    new RootAdaptor(window, this);
    connect(watch_, &PlaybackWatch::playStateChanged, this, [this](int state) {
        announcePlayerChanges({{QStringLiteral("PlaybackStatus"), playbackStatusText(state)}});
    });
    connect(watch_, &PlaybackWatch::trackChanged, this, [this] {
        announcePlayerChanges({{QStringLiteral("Metadata"), player_->metadata()},
                               {QStringLiteral("CanPlay"), player_->canPlay()},
                               {QStringLiteral("CanPause"), player_->canPause()}});
    });
    connect(watch_, &PlaybackWatch::positionJumped, this, [this](double /*seconds*/) {
        if (bus_)
            emit player_->Seeked(player_->position());
    });
}

MprisService::~MprisService()
{
    if (!bus_)
        return;
    bus_->unregisterObject(objectPath);
    bus_->unregisterService(busName_);
}

bool MprisService::publish(QString& error)
{
    if (!sessionBusKnown()) {
        error = QStringLiteral("no session bus (DBUS_SESSION_BUS_ADDRESS is not set)");
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        error = QStringLiteral("cannot reach the session bus: %1").arg(bus.lastError().message());
        return false;
    }
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportAdaptors)) {
        error = QStringLiteral("cannot export %1: %2").arg(objectPath, bus.lastError().message());
        return false;
    }
    bus_ = bus;
    const QString instanceName = baseName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
    QString refusal;
    for (const QString& name : {baseName, instanceName}) {
        if (requestName(name, refusal)) {
            qCDebug(mprisLog) << "published on the session bus as" << name;
            busName_ = name;
            return true;
        }
        qCDebug(mprisLog) << "the session bus refused the name" << name << "-" << refusal;
    }
    error = QStringLiteral("the session bus refused the name %1: %2").arg(instanceName, refusal);
    bus.unregisterObject(objectPath);
    bus_.reset();
    return false;
}

bool MprisService::requestName(const QString& name, QString& error)
{
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus_->interface()->registerService(
        name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        error = reply.error().message();
        return false;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        error = QStringLiteral("another program has it");
        return false;
    }
    return true;
}

void MprisService::announcePlayerChanges(const QVariantMap& changed)
{
    if (!bus_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << playerInterface << changed << QStringList();
    bus_->send(signal);
}
