// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/portalkeystate.h"
#include "platform/portalrequest.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <utility>

Q_LOGGING_CATEGORY(keysLog, "merlow.keys", QtWarningMsg)

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString registryInterface = QStringLiteral("org.freedesktop.host.portal.Registry");

// A shortcut as the portal takes and gives it: (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcuts = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The triggers the chords come closest to that GNOME and KDE leave free:
// Super with A or S alone is GNOME's (the application grid, the quick
// settings), Super+Ctrl+A and Super+Alt+S are taken on KDE and GNOME, and
// Super+Shift+S is KDE's region screenshot. The user can change them in the
// desktop's settings; the portal's shortcut syntax has no Caps Lock.
PortalShortcuts wantedShortcuts()
{
    return {
        {QString::fromLatin1(PortalKeyState::playPauseId),
         {{QStringLiteral("description"), QStringLiteral("Play, pause or resume")},
          {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+SHIFT+LOGO+a")}}},
        {QString::fromLatin1(PortalKeyState::stopId),
         {{QStringLiteral("description"), QStringLiteral("Stop")},
          {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+SHIFT+LOGO+s")}}},
    };
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

PortalKeyState::PortalKeyState(QDBusConnection bus, QString appId, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), appId_(std::move(appId))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcuts>();
}

PortalKeyState::~PortalKeyState()
{
    if (!session_.isEmpty() && !failed_)
        bus_.send(QDBusMessage::createMethodCall(portalService, session_, sessionInterface, QStringLiteral("Close")));
}

void PortalKeyState::start()
{
    if (!bus_.isConnected()) {
        fail(QStringLiteral("there is no session bus"));
        return;
    }
    auto* gone = new QDBusServiceWatcher(portalService, bus_, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(gone, &QDBusServiceWatcher::serviceUnregistered, this, &PortalKeyState::onPortalGone);
    for (const QString& member : {QStringLiteral("Activated"), QStringLiteral("Deactivated")})
        bus_.connect(portalService, portalPath, shortcutsInterface, member, this,
                     SLOT(onShortcutSignal(QDBusMessage)));

    // The registry must hear of the program before any portal call; a portal
    // without one finds the app id elsewhere, or goes without.
    QDBusMessage registration =
        QDBusMessage::createMethodCall(portalService, portalPath, registryInterface, QStringLiteral("Register"));
    registration << appId_ << QVariantMap();
    auto* registered = new QDBusPendingCallWatcher(bus_.asyncCall(registration), this);
    connect(registered, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (call->isError())
            qCDebug(keysLog) << "the portal's registry did not take the app id:" << call->error().message();
        createSession();
    });
}

void PortalKeyState::request(const QString& method, QList<QVariant> arguments, QVariantMap& options,
                             std::function<void(uint response, const QVariantMap& results)> answered)
{
    // The request's object path is known before the call, so its Response
    // cannot come before we listen for it.
    const QString token = QStringLiteral("merlow%1").arg(++requests_);
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString requestPath = portalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    auto* pending = new PortalRequest(std::move(answered), this);
    bus_.connect(portalService, requestPath, requestInterface, QStringLiteral("Response"), pending,
                 SLOT(Response(uint, QVariantMap)));
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);

    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, pending](QDBusPendingCallWatcher* reply) {
        reply->deleteLater();
        if (reply->isError()) {
            pending->deleteLater();
            fail(missingReason(reply->error()));
        }
    });
}

void PortalKeyState::createSession()
{
    if (failed_)
        return;
    QVariantMap options{{QStringLiteral("session_handle_token"), QStringLiteral("merlow")}};
    request(QStringLiteral("CreateSession"), {}, options, [this](uint response, const QVariantMap& results) {
        if (failed_)
            return;
        session_ = results.value(QStringLiteral("session_handle")).toString();
        if (response != 0 || session_.isEmpty()) {
            fail(QStringLiteral("the desktop refused the global shortcuts session"));
            return;
        }
        bus_.connect(portalService, session_, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QVariantMap)));
        bindShortcuts();
    });
}

void PortalKeyState::bindShortcuts()
{
    QVariantMap options;
    const QList<QVariant> arguments{QVariant::fromValue(QDBusObjectPath(session_)),
                                    QVariant::fromValue(wantedShortcuts()), QString()};
    request(QStringLiteral("BindShortcuts"), arguments, options, [this](uint response, const QVariantMap& results) {
        if (failed_)
            return;
        if (response != 0) {
            fail(QStringLiteral("the desktop refused the global shortcuts"));
            return;
        }
        onBound(results);
    });
}

void PortalKeyState::onBound(const QVariantMap& results)
{
    PortalShortcuts shortcuts;
    const QVariant given = results.value(QStringLiteral("shortcuts"));
    if (given.canConvert<QDBusArgument>())
        given.value<QDBusArgument>() >> shortcuts;
    QString playPause;
    QString stop;
    for (const PortalShortcut& shortcut : shortcuts) {
        const QString trigger = shortcut.properties.value(QStringLiteral("trigger_description")).toString();
        if (shortcut.id == QLatin1String(playPauseId))
            playPause = trigger;
        else if (shortcut.id == QLatin1String(stopId))
            stop = trigger;
    }
    qCDebug(keysLog) << "the desktop's shortcuts drive the player: play, pause or resume on" << playPause
                    << "and stop on" << stop;
    emit bound(playPause, stop);
}

// Activated and Deactivated: (o session_handle, s shortcut_id, t timestamp,
// a{sv} options).
void PortalKeyState::onShortcutSignal(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (failed_ || arguments.size() < 2 || arguments[0].value<QDBusObjectPath>().path() != session_)
        return;
    const QString id = arguments[1].toString();
    if (message.member() == QLatin1String("Activated")) {
        held_.insert(id);
        pressedSinceSample_.insert(id);
    } else {
        held_.remove(id);
    }
}

void PortalKeyState::onSessionClosed(const QVariantMap& /*details*/)
{
    fail(QStringLiteral("the desktop closed the global shortcuts session"));
}

void PortalKeyState::onPortalGone()
{
    fail(QStringLiteral("the desktop's portal went away"));
}

void PortalKeyState::fail(const QString& reason)
{
    if (failed_)
        return;
    failed_ = true;
    held_.clear();
    pressedSinceSample_.clear();
    playPauseWord_ = 0;
    stopWord_ = 0;
    qCDebug(keysLog) << "no global shortcuts:" << reason;
    emit unavailable(reason);
}

QString PortalKeyState::missingReason(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
        return QStringLiteral("the desktop has no portal (%1)").arg(portalService);
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownObject:
        return QStringLiteral("the desktop's portal has no global shortcuts");
    default:
        return QStringLiteral("the desktop's portal did not answer: %1").arg(error.message());
    }
}

void PortalKeyState::sample()
{
    const auto word = [this](const char* id) -> std::uint16_t {
        const QString name = QString::fromLatin1(id);
        return (held_.contains(name) ? keyDownBit : 0) | (pressedSinceSample_.contains(name) ? 1 : 0);
    };
    playPauseWord_ = word(playPauseId);
    stopWord_ = word(stopId);
    pressedSinceSample_.clear();
}

std::uint16_t PortalKeyState::GetAsyncKeyState(int virtualKey)
{
    switch (virtualKey) {
    case VirtualKey::CapsLock:
        return playPauseWord_ | stopWord_;
    case VirtualKey::A:
        return playPauseWord_;
    case VirtualKey::S:
        return stopWord_;
    default:
        return 0;
    }
}
