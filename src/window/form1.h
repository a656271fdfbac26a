// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "platform/keystate.h"

class DroppedData;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class MediaEngine;
class ProgressBar;
class ProgressTimer;

// The player's one window: its controls as the design table gives them, and
// the transport commands behind the buttons, the progress display, loading
// by drop and the Caps Lock chords.
class Form1 : public QWidget {
    Q_OBJECT
public:
    using MessagePresenter = std::function<void(const QString& text)>;

    // Takes ownership of `engine`. The chords read `keys`; without it no key
    // is ever seen down.
    explicit Form1(MediaEngine* engine, std::unique_ptr<KeyStateSource> keys = nullptr, QWidget* parent = nullptr);
    ~Form1() override;

    // Where message texts go; by default a modal message box.
    void setMessagePresenter(MessagePresenter presenter);

    // The transport commands, run by the buttons' clicks and the chords.
    void play();
    void pause();
    void stop();
    void load();

    // Runs one of the commands above as a click does: a failure is reported
    // to the user, not thrown.
    void runCommand(void (Form1::*command)());

signals:
    // Play, pause or stop has run, from a click, a chord or elsewhere.
    void commandRun();
    // The window is about to hand the engine this file to open.
    void openingFile(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Progress display: the engine's open notification and the timer's tick.
    void MediaPlayer1_OpenStateChange(int oldState, int newState);
    void Timer1_Timer();
    // The progress timer's ticks are held while the engine's clock stands
    // still or the window cannot be seen.
    void MediaPlayer1_ClockRunningChanged(bool running);
    void followExposure();
    void holdProgressUnlessItCanMove();

    // The Caps Lock chords, sampled at every tick of the hotkey timer.
    void Timer2_Timer();

    // Drop handlers: files on the label, the format probe on the window.
    void Label1_DragDrop(const DroppedData& data);
    void Form1_DragDrop(const DroppedData& data);
    bool overLabel(const QDropEvent* event) const;
    void deferDropHandler(DroppedData data, void (Form1::*handler)(const DroppedData&));

    void createControls();
    void setTabOrder();
    void connectHandlers();
    // Runs an event handler; a failure escaping it is reported and the
    // program goes on.
    void runHandler(const std::function<void()>& handler);
    void showMessage(const QString& text);
    void reportPlaybackFailure(const QString& path, const QString& reason);

    MessagePresenter presentMessage_;
    std::unique_ptr<KeyStateSource> keyState_;
    bool clockRunning_ = false;
    bool exposed_ = false;
    // Once the window is closed the program is ending: what fails after,
    // such as an open the close abandons, is logged, not shown.
    bool closed_ = false;
    // Watches the native window's exposure, once the window is shown.
    QObject* exposureWatch_ = nullptr;

    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    ProgressBar* ProgressBar1 = nullptr;
    ProgressTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    MediaEngine* MediaPlayer1 = nullptr;
};
