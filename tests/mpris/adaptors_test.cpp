// SPDX-License-Identifier: GPL-3.0-or-later
#include <QGuiApplication>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>
#include <gtest/gtest.h>

#include "mpris/mprisservice.h"
#include "mpris/playbackwatch.h"
#include "mpris/playeradaptor.h"
#include "mpris/rootadaptor.h"
#include "support/testdata.h"
#include "support/wait.h"
#include "window/fakeengine.h"
#include "window/form1.h"
#include "window/progresstimer.h"

namespace {

using Calls = std::vector<std::string>;

class PlayerAdaptorTest : public ::testing::Test {
protected:
    PlayerAdaptorTest() : engine(new FakeEngine), window(engine), watch(window, *engine), player(window, *engine, watch, &exported)
    {
        window.findChild<QTimer*>(QStringLiteral("Timer2"))->stop();
    }

    void openFile()
    {
        window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(testFile("id3v2.mp3"));
        window.load();
        engine->open = OpenState::Open;
        engine->length = 2.0;
        engine->tags = {QStringLiteral("Test tone"), QStringLiteral("Merlow")};
        engine->playing = PlayState::Playing;
        emit engine->openStateChange(OpenState::Opening, OpenState::Open);
        engine->calls.clear();
    }

    FakeEngine* engine;
    Form1 window;
    PlaybackWatch watch;
    QObject exported;
    PlayerAdaptor player;
};

TEST_F(PlayerAdaptorTest, WithNoFileOpenNothingCanPlayAndNothingDoes)
{
    EXPECT_FALSE(player.canPlay());
    EXPECT_FALSE(player.canPause());
    EXPECT_TRUE(player.canControl());
    EXPECT_TRUE(player.metadata().isEmpty());
    EXPECT_EQ(player.playbackStatus(), QStringLiteral("Stopped"));
    player.Play();
    player.PlayPause();
    player.Pause();
    EXPECT_EQ(engine->calls, Calls{});
    // Stop acts in every state, as its button does.
    player.Stop();
    EXPECT_EQ(engine->calls, (Calls{"stop", "setCurrentPosition(0.000000)"}));
}

TEST_F(PlayerAdaptorTest, PlayPauseIsPlayUnlessPlaying)
{
    openFile();
    EXPECT_TRUE(player.canPlay());
    EXPECT_TRUE(player.canPause());
    EXPECT_EQ(player.metadata().value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Test tone"));

    const struct {
        int state;
        Calls calls;
    } rows[] = {
        {PlayState::Playing, {"pause"}},
        {PlayState::Paused, {"play"}},
        {PlayState::Stopped, {"play"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        engine->playing = row.state;
        engine->calls.clear();
        player.PlayPause();
        EXPECT_EQ(engine->calls, row.calls);
        EXPECT_EQ(player.playbackStatus(), playbackStatusText(row.state));
    }
    EXPECT_EQ(playbackStatusText(PlayState::Playing), QStringLiteral("Playing"));
    EXPECT_EQ(playbackStatusText(PlayState::Paused), QStringLiteral("Paused"));
    EXPECT_EQ(playbackStatusText(7), QStringLiteral("Stopped"));
}

TEST_F(PlayerAdaptorTest, TheCommandsRunAsTheButtonsRunThem)
{
    openFile();
    // Through the window's own commands: play switches the progress timer on,
    // stop switches it off and zeroes the bar.
    auto* progress = window.findChild<ProgressTimer*>(QStringLiteral("Timer1"));
    player.Stop();
    EXPECT_FALSE(progress->isActive());
    engine->playing = PlayState::Stopped;
    player.Play();
    EXPECT_TRUE(progress->isActive());
    engine->playing = PlayState::Paused;
    player.Pause(); // acts only while playing
    EXPECT_EQ(engine->calls, (Calls{"stop", "setCurrentPosition(0.000000)", "play"}));

    // A failure is reported as a click's is, not thrown at the caller.
    std::vector<QString> messages;
    window.setMessagePresenter([&](const QString& text) { messages.push_back(text); });
    engine->failPlay = true;
    EXPECT_NO_THROW(player.Play());
    EXPECT_EQ(messages.size(), 1U);
}

TEST_F(PlayerAdaptorTest, ThePositionIsInMicroseconds)
{
    openFile();
    engine->positions = {1.2345674, -0.5};
    EXPECT_EQ(player.position(), 1234567);
    EXPECT_EQ(player.position(), 0);
}

TEST(RootAdaptor, NamesThePlayerAndItsEntryAndRaisesOrClosesTheWindow)
{
    QGuiApplication::setDesktopFileName(QStringLiteral("org.merlow.merlow"));
    Form1 window(new FakeEngine);
    QObject exported;
    RootAdaptor root(window, &exported);
    EXPECT_EQ(root.identity(), QStringLiteral("Merlow"));
    EXPECT_EQ(root.desktopEntry(), QStringLiteral("org.merlow.merlow"));
    EXPECT_TRUE(root.canQuit());
    EXPECT_TRUE(root.canRaise());
    EXPECT_FALSE(root.hasTrackList());

    window.showMinimized();
    root.Raise();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    root.Quit();
    EXPECT_FALSE(window.isVisible());
}

TEST(MprisService, WithoutASessionBusItSaysSoAndStaysOff)
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    Form1 window(new FakeEngine);
    FakeEngine engine;
    MprisService service(window, engine);
    QString reason;
    EXPECT_FALSE(service.publish(reason));
    EXPECT_TRUE(reason.contains(QStringLiteral("no session bus"))) << reason.toStdString();
    EXPECT_TRUE(service.busName().isEmpty());
    if (!address.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
}

} // namespace
