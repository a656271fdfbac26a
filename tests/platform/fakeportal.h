// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>

#include "harness/sessionbus.h"
#include "harness/tempdir.h"

// A shortcut as the portal gives it back: (sa{sv}).
struct GivenShortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(GivenShortcut)

inline QDBusArgument& operator<<(QDBusArgument& argument, const GivenShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument& operator>>(const QDBusArgument& argument, GivenShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The desktop's portal as far as global shortcuts go, on a connection of its
// own to a private bus: org.freedesktop.portal.Desktop with the host
// registry, the GlobalShortcuts interface and the Request and Session
// objects it makes. It notes every call, answers each request as told, and
// sends the shortcuts' Activated and Deactivated when the test asks.
class FakePortal : public QDBusVirtualObject {
public:
    struct Behaviour {
        bool registry = true;
        bool globalShortcuts = true;
        // The Response codes: 0 granted, 1 cancelled by the user, 2 refused.
        uint sessionResponse = 0;
        uint bindResponse = 0;
    };

    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    FakePortal(const SessionBus& bus, Behaviour behaviour)
        : name_(QStringLiteral("fake-portal-%1").arg(++instances())), behaviour_(behaviour),
          connection_(QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name_))
    {
        qDBusRegisterMetaType<GivenShortcut>();
        qDBusRegisterMetaType<QList<GivenShortcut>>();
        connection_.registerVirtualObject(path, this, QDBusConnection::SubPath);
        connection_.registerService(service);
    }
    ~FakePortal() override { goAway(); }

    // Each call, as "Member argument".
    std::vector<std::string> calls;
    // The shortcuts bound: id, description, preferred trigger.
    std::vector<std::vector<std::string>> bound;

    void activate(const QString& id) { sendShortcutSignal(QStringLiteral("Activated"), id); }
    void deactivate(const QString& id) { sendShortcutSignal(QStringLiteral("Deactivated"), id); }
    // As when the portal's process ends: its names go with its connection.
    void goAway()
    {
        connection_ = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(name_);
    }

    QString introspect(const QString& /*path*/) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        const QList<QVariant> arguments = message.arguments();
        if (message.interface() == QLatin1String("org.freedesktop.host.portal.Registry") && behaviour_.registry) {
            calls.push_back("Register " + arguments.value(0).toString().toStdString());
            connection.send(message.createReply());
        } else if (message.interface() == shortcutsInterface && behaviour_.globalShortcuts
                   && member == QLatin1String("CreateSession")) {
            calls.emplace_back("CreateSession");
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(0));
            session_ = QDBusObjectPath(objectPath(QStringLiteral("session"), message.service(),
                                                  options.value(QStringLiteral("session_handle_token")).toString()));
            respond(message, connection, options, behaviour_.sessionResponse,
                    {{QStringLiteral("session_handle"), session_.path()}});
        } else if (message.interface() == shortcutsInterface && behaviour_.globalShortcuts
                   && member == QLatin1String("BindShortcuts")) {
            calls.push_back("BindShortcuts " + arguments.value(0).value<QDBusObjectPath>().path().toStdString());
            QList<GivenShortcut> given;
            arguments.value(1).value<QDBusArgument>() >> given;
            for (GivenShortcut& shortcut : given) {
                bound.push_back({shortcut.id.toStdString(),
                                 shortcut.properties.value(QStringLiteral("description")).toString().toStdString(),
                                 shortcut.properties.value(QStringLiteral("preferred_trigger")).toString().toStdString()});
                shortcut.properties = {{QStringLiteral("description"), shortcut.properties.value("description")},
                                       {QStringLiteral("trigger_description"), "Trigger of " + shortcut.id}};
            }
            respond(message, connection, qdbus_cast<QVariantMap>(arguments.value(3)), behaviour_.bindResponse,
                    {{QStringLiteral("shortcuts"), QVariant::fromValue(given)}});
        } else if (message.interface() == QLatin1String("org.freedesktop.portal.Session")
                   && message.path() == session_.path()) {
            calls.push_back(member.toStdString());
            connection.send(message.createReply());
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such method")));
        }
        return true;
    }

private:
    static int& instances()
    {
        static int count = 0;
        return count;
    }

    static QString objectPath(const QString& kind, const QString& sender, const QString& token)
    {
        QString caller = sender.mid(1);
        caller.replace(QLatin1Char('.'), QLatin1Char('_'));
        return path + QLatin1Char('/') + kind + QLatin1Char('/') + caller + QLatin1Char('/') + token;
    }

    // Replies with the request's handle, then answers on it, as the portal
    // does.
    static void respond(const QDBusMessage& call, const QDBusConnection& connection, const QVariantMap& options,
                        uint response, const QVariantMap& results)
    {
        const QString request =
            objectPath(QStringLiteral("request"), call.service(), options.value(QStringLiteral("handle_token")).toString());
        connection.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage answer =
            QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        answer << response << (response == 0 ? results : QVariantMap());
        connection.send(answer);
    }

    void sendShortcutSignal(const QString& member, const QString& id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, shortcutsInterface, member);
        signal << QVariant::fromValue(session_) << id << qulonglong(0) << QVariantMap();
        connection_.send(signal);
    }

    const QString name_;
    const Behaviour behaviour_;
    QDBusConnection connection_;
    QDBusObjectPath session_;
};
