// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>

class PulseMainLoop;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

// The time by which the sound server must have answered: a timer on the main
// loop that, when it fires, marks the deadline passed and wakes the thread
// waiting on the main loop, since libpulse's threaded main loop has no timed
// wait of its own.
//
// Created and destroyed with the main loop's lock held; the timer runs on the
// main loop's thread, with the lock held.
class PulseDeadline {
public:
    // `onPassed`, if given, runs on the main loop's thread as it passes,
    // before the waiter is woken.
    PulseDeadline(PulseMainLoop& mainLoop, std::chrono::milliseconds bound, std::function<void()> onPassed = {});
    PulseDeadline(const PulseDeadline&) = delete;
    PulseDeadline& operator=(const PulseDeadline&) = delete;
    ~PulseDeadline();

    // With the lock held.
    bool passed() const { return passed_; }

private:
    static void onTime(pa_mainloop_api* api, pa_time_event* event, const timeval* when, void* self);

    PulseMainLoop& mainLoop_;
    const std::function<void()> onPassed_;
    pa_time_event* timer_ = nullptr;
    // Under the main loop's lock: set by the timer, or at once where the main
    // loop cannot time it, so that no wait goes unbounded.
    bool passed_ = false;
};
