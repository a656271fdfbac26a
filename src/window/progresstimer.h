// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QTimer;

// The progress timer: switched on and off as any timer, ticking at its
// interval while on, but with its ticks held back while they could change
// nothing that is seen. Held, it stays on and does not wake the thread. Each
// change of hold while on brings one tick at once, so that what the ticks
// show is brought up to date as a hold begins and as it ends.
class ProgressTimer : public QObject {
    Q_OBJECT
public:
    explicit ProgressTimer(int intervalMs, QObject* parent = nullptr);

    // As QTimer's: start() restarts the interval.
    void start();
    void stop();
    bool isActive() const { return on_; }
    int interval() const { return intervalMs_; }

    void setHeld(bool held);
    bool isHeld() const { return held_; }

signals:
    void timeout();

private:
    void tick();

    const int intervalMs_;
    QTimer* ticker_;
    bool on_ = false;
    bool held_ = false;
};
