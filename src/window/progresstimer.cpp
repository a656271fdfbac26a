// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/progresstimer.h"

#include <QTimer>

ProgressTimer::ProgressTimer(int intervalMs, QObject* parent)
    : QObject(parent), intervalMs_(intervalMs), ticker_(new QTimer(this))
{
    ticker_->setInterval(intervalMs_);
    connect(ticker_, &QTimer::timeout, this, &ProgressTimer::tick);
}

void ProgressTimer::start()
{
    on_ = true;
    if (!held_)
        ticker_->start(intervalMs_);
}

void ProgressTimer::stop()
{
    on_ = false;
    ticker_->stop();
}

void ProgressTimer::setHeld(bool held)
{
    if (held == held_)
        return;
    held_ = held;
    if (on_)
        ticker_->start(0);
}

void ProgressTimer::tick()
{
    // Decided before the tick's handler runs, which may stop or start it.
    if (held_) {
        ticker_->stop();
    } else if (ticker_->interval() != intervalMs_) {
        ticker_->start(intervalMs_);
    }
    emit timeout();
}
