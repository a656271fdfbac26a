// SPDX-License-Identifier: GPL-3.0-or-later
// The progress display: the bar's range follows the open file, and the
// progress timer copies the playing position into the bar.
#include <functional>
#include <utility>

#include <QShowEvent>
#include <QWindow>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "window/form1.h"
#include "window/progressbar.h"
#include "window/progresstimer.h"

namespace {

// Calls back on every expose event of the window it watches.
class ExposureWatch : public QObject {
public:
    ExposureWatch(std::function<void()> exposureChanged, QObject* parent)
        : QObject(parent), exposureChanged_(std::move(exposureChanged))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose)
            exposureChanged_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> exposureChanged_;
};

} // namespace


void Form1::MediaPlayer1_OpenStateChange(int /*oldState*/, int newState)
{
    if (newState != OpenState::Open)
        return;
    ProgressBar1->setMaximum(static_cast<float>(MediaPlayer1->duration()));
    Timer1->start();
}

void Form1::Timer1_Timer()
{
    if (!(MediaPlayer1->currentPosition() > 0.0))
        return;
    ProgressBar1->setValue(static_cast<float>(MediaPlayer1->currentPosition()));
}

// Ticks can change what is seen only while the position moves and the window
// is on screen; the tick at the end of a hold copies the position at once.
void Form1::holdProgressUnlessItCanMove()
{
    Timer1->setHeld(!clockRunning_ || !exposed_);
}

void Form1::MediaPlayer1_ClockRunningChanged(bool running)
{
    clockRunning_ = running;
    holdProgressUnlessItCanMove();
}

// Unmapped or iconified, the window is not exposed: its native window tells
// of that by expose events, which no widget receives. Installing the watch
// again on the same window keeps one.
void Form1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (exposureWatch_ == nullptr)
        exposureWatch_ = new ExposureWatch([this] { followExposure(); }, this);
    if (QWindow* window = windowHandle())
        window->installEventFilter(exposureWatch_);
}

void Form1::followExposure()
{
    exposed_ = windowHandle() != nullptr && windowHandle()->isExposed();
    holdProgressUnlessItCanMove();
}
