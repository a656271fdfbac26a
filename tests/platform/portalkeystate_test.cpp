// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <fstream>
#include <memory>

#include <QTimer>
#include <gtest/gtest.h>

#include "fakeportal.h"
#include "harness/sessionbus.h"
#include "harness/tempdir.h"
#include "platform/evdevkeystate.h"
#include "platform/portalkeystate.h"
#include "platform/systemkeystate.h"
#include "support/wait.h"
#include "window/fakeengine.h"
#include "window/form1.h"

using namespace std::chrono_literals;

namespace {

using VirtualKey::A;
using VirtualKey::CapsLock;
using VirtualKey::S;
using Calls = std::vector<std::string>;

// The player's side: a connection of its own to the test's bus, and the
// source on it, with what it has said.
class PortalClient {
public:
    explicit PortalClient(const SessionBus& bus)
        : name_(QStringLiteral("portal-client-%1").arg(++instances())),
          owned(std::make_unique<PortalKeyState>(
              QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name_),
              QStringLiteral("org.merlow.merlow"))),
          keys(owned.get())
    {
        QObject::connect(keys, &PortalKeyState::bound, [this](const QString& playPause, const QString& stop) {
            triggers = {playPause.toStdString(), stop.toStdString()};
        });
        QObject::connect(keys, &PortalKeyState::unavailable,
                         [this](const QString& reason) { reasons.push_back(reason.toStdString()); });
        keys->start();
    }
    ~PortalClient()
    {
        owned.reset();
        QDBusConnection::disconnectFromBus(name_);
    }

    // The words a sample finds for Caps Lock, A and S.
    std::vector<std::uint16_t> sampled()
    {
        keys->sample();
        return {keys->GetAsyncKeyState(CapsLock), keys->GetAsyncKeyState(A), keys->GetAsyncKeyState(S)};
    }

    bool waitForTriggers() { return waitUntil([this] { return !triggers.empty(); }, 5s); }
    bool waitForReason() { return waitUntil([this] { return !reasons.empty(); }, 5s); }

private:
    static int& instances()
    {
        static int count = 0;
        return count;
    }

    const QString name_;

public:
    // Until a test gives it to a window.
    std::unique_ptr<PortalKeyState> owned;
    PortalKeyState* keys;
    std::vector<std::string> triggers;
    std::vector<std::string> reasons;
};

const std::vector<std::uint16_t> allUp{0, 0, 0};

// The configuration of a session bus that starts no service of this
// machine's, such as its real portal: only what the test puts on it answers.
std::string bareBusConfig(const TempDir& dir)
{
    const std::string path = dir.file("bare.conf");
    std::ofstream(path) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    return path;
}

void tick(Form1& window)
{
    QMetaObject::invokeMethod(window.findChild<QTimer*>(QStringLiteral("Timer2")), "timeout");
}

TEST(PortalKeyState, BindsTwoShortcutsAndHoldsCapsLockWithTheLetterFromActivatedToDeactivated)
{
    const TempDir config;
    const SessionBus bus(bareBusConfig(config));
    FakePortal portal(bus, {});
    PortalClient client(bus);
    ASSERT_TRUE(client.waitForTriggers());
    ASSERT_EQ(portal.calls.size(), 3U);
    EXPECT_EQ(portal.calls[0], "Register org.merlow.merlow");
    EXPECT_EQ(portal.calls[1], "CreateSession");
    EXPECT_EQ(portal.calls[2].rfind("BindShortcuts /org/freedesktop/portal/desktop/session/", 0), 0U);
    EXPECT_EQ(portal.bound, (std::vector<std::vector<std::string>>{
                                {"play-pause", "Play, pause or resume", "CTRL+SHIFT+LOGO+a"},
                                {"stop", "Stop", "CTRL+SHIFT+LOGO+s"},
                            }));
    EXPECT_EQ(client.triggers, (Calls{"Trigger of play-pause", "Trigger of stop"}));
    EXPECT_TRUE(client.reasons.empty());

    // Held across two ticks, the trigger acts at each by the play state, as
    // a held chord does; let go, nothing.
    auto* engine = new FakeEngine;
    engine->open = OpenState::Open;
    Form1 window(engine, std::move(client.owned));
    portal.activate(QStringLiteral("play-pause"));
    ASSERT_TRUE(waitUntil([&] { return client.sampled() == std::vector<std::uint16_t>{keyDownBit, keyDownBit, 0}; }, 5s))
        << client.sampled()[0] << " " << client.sampled()[1];
    engine->playing = PlayState::Playing;
    tick(window);
    engine->playing = PlayState::Paused;
    tick(window);
    EXPECT_EQ(engine->calls, (Calls{"pause", "play"}));

    portal.deactivate(QStringLiteral("play-pause"));
    ASSERT_TRUE(waitUntil([&] { return client.sampled() == allUp; }, 5s));
    engine->calls.clear();
    tick(window);
    EXPECT_TRUE(engine->calls.empty());

    // A tap between two ticks acts once.
    engine->playing = PlayState::Playing;
    portal.activate(QStringLiteral("stop"));
    portal.deactivate(QStringLiteral("stop"));
    ASSERT_TRUE(waitUntil(
        [&] {
            tick(window);
            return !engine->calls.empty();
        },
        5s));
    EXPECT_EQ(engine->calls, (Calls{"stop", "setCurrentPosition(0.000000)"}));
    ASSERT_TRUE(waitUntil([&] { return client.sampled() == allUp; }, 5s));
    engine->calls.clear();
    tick(window);
    EXPECT_TRUE(engine->calls.empty());
    EXPECT_TRUE(client.reasons.empty());
}

// Portals before 1.19 have no registry of host programs, and bind all the same.
TEST(PortalKeyState, WithoutTheRegistryItStillBinds)
{
    const TempDir config;
    const SessionBus bus(bareBusConfig(config));
    FakePortal portal(bus, {.registry = false});
    PortalClient client(bus);
    ASSERT_TRUE(client.waitForTriggers()) << (client.reasons.empty() ? "" : client.reasons[0]);
    EXPECT_EQ(portal.calls.size(), 2U);
    EXPECT_TRUE(client.reasons.empty());
}

TEST(PortalKeyState, ARefusalIsSaidOnceAndNothingIsAskedAgain)
{
    for (const auto& [session, bind] : {std::pair<uint, uint>{1, 0}, {0, 2}}) {
        SCOPED_TRACE(session);
        const TempDir config;
    const SessionBus bus(bareBusConfig(config));
        FakePortal portal(bus, {.sessionResponse = session, .bindResponse = bind});
        PortalClient client(bus);
        ASSERT_TRUE(client.waitForReason());
        EXPECT_NE(client.reasons[0].find("refused"), std::string::npos) << client.reasons[0];
        // Asked once; no key reads as down, whatever the portal sends.
        if (bind != 0)
            portal.activate(QStringLiteral("play-pause"));
        runEventsFor(100ms);
        EXPECT_EQ(client.reasons.size(), 1U);
        EXPECT_EQ(std::count(portal.calls.begin(), portal.calls.end(), "CreateSession"), 1);
        EXPECT_EQ(client.sampled(), allUp);
        EXPECT_TRUE(client.triggers.empty());
    }
}

TEST(PortalKeyState, AMissingPortalOrOneWithoutShortcutsIsSaidOnce)
{
    const TempDir config;
    const SessionBus bus(bareBusConfig(config));
    {
        PortalClient client(bus);
        ASSERT_TRUE(client.waitForReason());
        EXPECT_NE(client.reasons[0].find("no portal"), std::string::npos) << client.reasons[0];
        runEventsFor(50ms);
        EXPECT_EQ(client.reasons.size(), 1U);
    }
    FakePortal portal(bus, {.registry = false, .globalShortcuts = false});
    PortalClient client(bus);
    ASSERT_TRUE(client.waitForReason());
    EXPECT_NE(client.reasons[0].find("no global shortcuts"), std::string::npos) << client.reasons[0];
    runEventsFor(50ms);
    EXPECT_EQ(client.reasons.size(), 1U);
    EXPECT_EQ(client.sampled(), allUp);
}

TEST(PortalKeyState, APortalThatGoesAwayLetsGoOfTheKeysAndIsSaidOnce)
{
    const TempDir config;
    const SessionBus bus(bareBusConfig(config));
    FakePortal portal(bus, {});
    PortalClient client(bus);
    ASSERT_TRUE(client.waitForTriggers());
    portal.activate(QStringLiteral("stop"));
    ASSERT_TRUE(waitUntil([&] { return client.sampled() == std::vector<std::uint16_t>{keyDownBit, 0, keyDownBit}; }, 5s));
    portal.goAway();
    ASSERT_TRUE(client.waitForReason());
    EXPECT_NE(client.reasons[0].find("went away"), std::string::npos) << client.reasons[0];
    EXPECT_EQ(client.sampled(), allUp);
    EXPECT_EQ(client.reasons.size(), 1U);
}

// On Wayland, with input devices it cannot read and no portal, the program
// says once why and what to do.
TEST(SystemKeyState, OnWaylandWithoutDevicesPortalOrXWaylandSaysWhyAndWhatToDoOnce)
{
    std::string evdevError;
    if (EvdevKeyState::open(evdevError))
        GTEST_SKIP() << "this machine's keyboards can be read";
    const TempDir config;
    const SessionBus bus(bareBusConfig(config));
    setenv("WAYLAND_DISPLAY", "wayland-test-none", 1);
    unsetenv("DISPLAY");
    const QString name = QStringLiteral("system-keys");
    std::vector<std::string> said;
    {
        auto keys = systemKeyState(QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name),
                                   QStringLiteral("org.merlow.merlow"),
                                   [&](const std::string& message) { said.push_back(message); });
        ASSERT_TRUE(keys);
        ASSERT_TRUE(waitUntil([&] { return !said.empty(); }, 5s));
        runEventsFor(50ms);
        keys->sample();
        EXPECT_EQ(keys->GetAsyncKeyState(CapsLock), 0);
    }
    QDBusConnection::disconnectFromBus(name);
    ASSERT_EQ(said.size(), 1U);
    for (const char* part : {"the Caps Lock chords are unavailable", "/dev/input", "no portal", "DISPLAY is not set",
                             "`playerctl -p merlow play-pause`", "`playerctl -p merlow stop`"})
        EXPECT_NE(said[0].find(part), std::string::npos) << part << " in " << said[0];
}

} // namespace
