// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/form1.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "platform/keystate.h"
#include "window/controltable.h"
#include "window/messagebox.h"
#include "window/progressbar.h"
#include "window/progresstimer.h"
#include "window/runtimeerror.h"
#include "window/windowlog.h"

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, ControlTable::Twips place)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(ControlTable::toPixels(place));
    return button;
}

QTimer* makeTimer(QObject* parent, const char* name, int intervalMs)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(intervalMs);
    return timer;
}

} // namespace

Form1::Form1(MediaEngine* engine, std::unique_ptr<KeyStateSource> keys, QWidget* parent)
    : QWidget(parent), presentMessage_([this](const QString& text) { showMessageBox(this, text); }),
      keyState_(keys ? std::move(keys) : std::make_unique<NoKeyState>())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(ControlTable::caption());
    setFixedSize(ControlTable::clientWidth / ControlTable::twipsPerPixel,
                 ControlTable::clientHeight / ControlTable::twipsPerPixel);

    engine->setParent(this);
    MediaPlayer1 = engine;
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));

    createControls();
    setTabOrder();
    connectHandlers();
    Timer2->start();
}

Form1::~Form1() = default;

void Form1::createControls()
{
    Timer2 = makeTimer(this, "Timer2", ControlTable::Timer2IntervalMs);
    // The chords' latency is the tick's: keep it to the millisecond.
    Timer2->setTimerType(Qt::PreciseTimer);

    ProgressBar1 = new ProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(ControlTable::toPixels(ControlTable::ProgressBar1));
    ProgressBar1->setAccessibleName(QStringLiteral("Playing position"));

    Timer1 = new ProgressTimer(ControlTable::Timer1IntervalMs, this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setHeld(true);

    Command4 = makeButton(this, "Command4", QStringLiteral("load"), ControlTable::Command4);
    Command4->setEnabled(false);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(ControlTable::toPixels(ControlTable::Text1));
    Text1->setReadOnly(true);
    Text1->setFocusPolicy(Qt::NoFocus);
    Text1->setEnabled(false);
    Text1->setAccessibleName(QStringLiteral("File path"));

    Command3 = makeButton(this, "Command3", QStringLiteral("stop"), ControlTable::Command3);
    Command2 = makeButton(this, "Command2", QStringLiteral("pause"), ControlTable::Command2);
    Command1 = makeButton(this, "Command1", QStringLiteral("play"), ControlTable::Command1);

    // Created last so it lies on top where it overlaps "load" and the path box.
    Label1 = new QLabel(QStringLiteral("Drop MP3 HERE"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(ControlTable::toPixels(ControlTable::Label1));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    QFont labelFont(QStringLiteral("MS Sans Serif"));
    labelFont.setStyleHint(QFont::SansSerif);
    labelFont.setPointSizeF(9.75);
    labelFont.setWeight(QFont::Normal);
    labelFont.setItalic(false);
    labelFont.setUnderline(false);
    Label1->setFont(labelFont);
    Label1->setAccessibleDescription(QStringLiteral("Drop an MP3 file here to play it"));
    Label1->setAcceptDrops(true);
    Label1->installEventFilter(this);
    // Drops elsewhere on the window, its other controls included, reach it.
    setAcceptDrops(true);
}

void Form1::setTabOrder()
{
    QWidget::setTabOrder(Command1, Command2);
    QWidget::setTabOrder(Command2, Command3);
    QWidget::setTabOrder(Command3, Text1);
    QWidget::setTabOrder(Text1, Command4);
    QWidget::setTabOrder(Command4, ProgressBar1);
    QWidget::setTabOrder(ProgressBar1, Label1);
}

void Form1::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, [this] { runCommand(&Form1::play); });
    connect(Command2, &QPushButton::clicked, this, [this] { runCommand(&Form1::pause); });
    connect(Command3, &QPushButton::clicked, this, [this] { runCommand(&Form1::stop); });
    connect(Command4, &QPushButton::clicked, this, [this] { runCommand(&Form1::load); });
    connect(Timer2, &QTimer::timeout, this, [this] { runHandler([this] { Timer2_Timer(); }); });
    connect(Timer1, &ProgressTimer::timeout, this, [this] { runHandler([this] { Timer1_Timer(); }); });
    connect(MediaPlayer1, &MediaEngine::clockRunningChanged, this, &Form1::MediaPlayer1_ClockRunningChanged);
    connect(MediaPlayer1, &MediaEngine::openStateChange, this, [this](int oldState, int newState) {
        runHandler([&] { MediaPlayer1_OpenStateChange(oldState, newState); });
    });
    connect(MediaPlayer1, &MediaEngine::playbackFailed, this, [this](const QString& path, const QString& reason) {
        runHandler([&] { reportPlaybackFailure(path, reason); });
    });
}

void Form1::setMessagePresenter(MessagePresenter presenter)
{
    presentMessage_ = std::move(presenter);
}

void Form1::runHandler(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        showMessage(describeCurrentException());
    }
}

void Form1::runCommand(void (Form1::*command)())
{
    runHandler([this, command] { (this->*command)(); });
}

void Form1::showMessage(const QString& text)
{
    if (closed_) {
        qCDebug(windowLog) << "not shown, as the window is closed:" << text;
        return;
    }
    presentMessage_(text);
}

void Form1::closeEvent(QCloseEvent* event)
{
    closed_ = true;
    QWidget::closeEvent(event);
}

void Form1::reportPlaybackFailure(const QString& path, const QString& reason)
{
    showMessage(QStringLiteral("Cannot play \"%1\": %2").arg(path, reason));
}

void Form1::play()
{
    if (MediaPlayer1->openState() != OpenState::Open)
        return;
    MediaPlayer1->play();
    Timer1->start();
    emit commandRun();
}

void Form1::pause()
{
    if (MediaPlayer1->playState() == PlayState::Playing)
        MediaPlayer1->pause();
    emit commandRun();
}

void Form1::stop()
{
    Timer1->stop();
    ProgressBar1->setValue(0.0F);
    MediaPlayer1->stop();
    MediaPlayer1->setCurrentPosition(0.0);
    emit commandRun();
}

void Form1::load()
{
    emit openingFile(Text1->text());
    MediaPlayer1->setFileName(Text1->text());
}
