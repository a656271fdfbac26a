// SPDX-License-Identifier: GPL-3.0-or-later
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "fakeengine.h"
#include "window/form1.h"
#include "window/messagebox.h"
#include "window/progressbar.h"
#include "window/progresstimer.h"

namespace {

using Calls = std::vector<std::string>;

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : engine(new FakeEngine), window(engine)
    {
        window.setMessagePresenter([this](const QString& text) { messages.push_back(text); });
        engine->observe = [this] {
            return std::string(timer1()->isActive() ? "[timer on" : "[timer off") + ", bar "
                   + std::to_string(static_cast<int>(bar()->value())) + "]";
        };
    }

    template <typename T> T* control(const char* name) const
    {
        T* found = window.findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }
    ProgressTimer* timer1() const { return control<ProgressTimer>("Timer1"); }
    ProgressBar* bar() const { return control<ProgressBar>("ProgressBar1"); }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    FakeEngine* engine;
    Form1 window;
    std::vector<QString> messages;
};

TEST_F(WindowTest, ControlsMatchTheDesignTable)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Merlow 0.01(d)  [Alpha Version]"));
    EXPECT_EQ(window.size(), QSize(394, 82));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());

    const struct {
        const char* name;
        QString text;
        QRect pixels;
        bool enabled;
    } buttons[] = {
        {"Command1", QStringLiteral("play"), {0, 0, 73, 33}, true},
        {"Command2", QStringLiteral("pause"), {80, 0, 73, 33}, true},
        {"Command3", QStringLiteral("stop"), {160, 0, 73, 33}, true},
        {"Command4", QStringLiteral("load"), {240, 0, 73, 33}, false},
    };
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(button(b.name)->text(), b.text);
        EXPECT_EQ(button(b.name)->geometry(), b.pixels);
        EXPECT_EQ(button(b.name)->isEnabled(), b.enabled);
    }

    auto* label = control<QLabel>("Label1");
    EXPECT_EQ(label->text(), QStringLiteral("Drop MP3 HERE"));
    EXPECT_EQ(label->geometry(), QRect(312, 0, 81, 41));
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(label->wordWrap());
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 9.75);
    EXPECT_EQ(label->font().weight(), QFont::Normal);
    EXPECT_FALSE(label->font().italic());
    EXPECT_FALSE(label->font().underline());
    // Wrapped, the text fits the box.
    EXPECT_LE(label->heightForWidth(label->width()), label->height());

    auto* text = control<QLineEdit>("Text1");
    EXPECT_EQ(text->geometry(), QRect(0, 40, 393, 19));
    EXPECT_TRUE(text->text().isEmpty());
    EXPECT_FALSE(text->isEnabled());
    EXPECT_EQ(text->focusPolicy(), Qt::NoFocus);

    EXPECT_EQ(bar()->geometry(), QRect(0, 64, 393, 17));
    EXPECT_EQ(bar()->minimum(), 0.0F);
    EXPECT_EQ(bar()->maximum(), 100.0F);
    EXPECT_EQ(bar()->value(), 0.0F);

    EXPECT_FALSE(timer1()->isActive());
    EXPECT_EQ(timer1()->interval(), 10);
    EXPECT_TRUE(control<QTimer>("Timer2")->isActive());
    EXPECT_EQ(control<QTimer>("Timer2")->interval(), 200);

    EXPECT_EQ(control<MediaEngine>("MediaPlayer1"), engine);
    EXPECT_EQ(engine->parent(), &window);
}

TEST_F(WindowTest, TabMovesThroughTheEnabledButtonsInTableOrder)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    button("Command1")->setFocus();
    const char* order[] = {"Command2", "Command3", "Command1"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QLatin1String(name));
    }
}

TEST_F(WindowTest, PlayActsOnlyOnAnOpenFileAndThenSwitchesTheTimerOn)
{
    for (const int state : {OpenState::Closed, OpenState::Opening}) {
        engine->open = state;
        click("Command1");
        EXPECT_TRUE(engine->calls.empty());
        EXPECT_FALSE(timer1()->isActive());
    }
    // A refused play leaves a running timer running, too.
    timer1()->start();
    window.play();
    EXPECT_TRUE(engine->calls.empty());
    EXPECT_TRUE(timer1()->isActive());
    timer1()->stop();

    engine->open = OpenState::Open;
    click("Command1");
    EXPECT_EQ(engine->calls, (Calls{"play [timer off, bar 0]"}));
    EXPECT_TRUE(timer1()->isActive());
    // Again while playing: play is called again.
    click("Command1");
    EXPECT_EQ(engine->calls.size(), 2U);
}

TEST_F(WindowTest, PauseActsOnlyWhilePlayingAndLeavesTheTimerAlone)
{
    engine->open = OpenState::Open;
    for (const int state : {PlayState::Stopped, PlayState::Paused, 7}) {
        engine->playing = state;
        click("Command2");
    }
    EXPECT_TRUE(engine->calls.empty());

    timer1()->start();
    engine->playing = PlayState::Playing;
    click("Command2");
    EXPECT_EQ(engine->calls, (Calls{"pause [timer on, bar 0]"}));
    EXPECT_TRUE(timer1()->isActive());
}

TEST_F(WindowTest, StopRunsInFullInOrderWithOrWithoutAFile)
{
    for (const int state : {OpenState::Closed, OpenState::Open}) {
        engine->open = state;
        engine->calls.clear();
        timer1()->start();
        bar()->setValue(50.0F);
        click("Command3");
        EXPECT_EQ(engine->calls, (Calls{"stop [timer off, bar 0]", "setCurrentPosition(0.000000) [timer off, bar 0]"}));
        EXPECT_FALSE(timer1()->isActive());
        EXPECT_EQ(bar()->value(), 0.0F);
    }
}

TEST_F(WindowTest, LoadHandsTheEngineThePathBoxTextUnchanged)
{
    const QString path = QStringLiteral(" /tmp/a \"b\" <i>ü</i>.mp3 ");
    control<QLineEdit>("Text1")->setText(path);
    // The button is disabled, so a click cannot reach the command.
    click("Command4");
    EXPECT_TRUE(engine->calls.empty());
    window.load();
    EXPECT_EQ(engine->calls, (Calls{"setFileName(" + path.toStdString() + ") [timer off, bar 0]"}));
}

TEST_F(WindowTest, AFailingHandlerIsReportedWithANumberAndTheProgramGoesOn)
{
    engine->open = OpenState::Open;
    engine->failPlay = true;
    click("Command1");
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Run-time error 1:"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("the engine refused to play")));
    // The handler ended at the failure: the timer was not switched on.
    EXPECT_FALSE(timer1()->isActive());

    engine->failPlay = false;
    click("Command1");
    EXPECT_EQ(engine->calls.size(), 1U);
    EXPECT_EQ(messages.size(), 1U);
}

TEST_F(WindowTest, AnUnplayableFileIsReportedByPathAndReasonUntilTheWindowIsClosed)
{
    emit engine->playbackFailed(QStringLiteral("/music/<b>x</b>.mp3"), QStringLiteral("not MPEG audio"));
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0], QStringLiteral("Cannot play \"/music/<b>x</b>.mp3\": not MPEG audio"));

    // The program is ending: an open the close abandons shows no box.
    window.show();
    window.close();
    emit engine->playbackFailed(QStringLiteral("/music/y.mp3"), QStringLiteral("cannot open audio output"));
    EXPECT_EQ(messages.size(), 1U);
}

TEST(MessageBox, IsModalPlainTextWithOneOkButtonAndTheApplicationTitle)
{
    QWidget parent;
    bool inspected = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), applicationTitle());
        EXPECT_EQ(box->text(), QStringLiteral("<b>not bold</b>"));
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        inspected = true;
        box->button(QMessageBox::Ok)->click();
    });
    showMessageBox(&parent, QStringLiteral("<b>not bold</b>"));
    EXPECT_TRUE(inspected);
}

} // namespace
