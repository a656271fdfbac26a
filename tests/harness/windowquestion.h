// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <X11/Xlib.h>

// What a WindowProbe asks a window, over and over, on the probe's own
// connection and thread. Xlib's header comes with it: for the harness's own
// files, never the tests'.
class WindowQuestion {
public:
    WindowQuestion() = default;
    WindowQuestion(const WindowQuestion&) = delete;
    WindowQuestion& operator=(const WindowQuestion&) = delete;
    virtual ~WindowQuestion() = default;

    // Once, before the first question.
    virtual void begin(Display* display) = 0;
    // Sends the next question.
    virtual void ask(Display* display) = 0;
    // Whether `event` answers the question last asked; meets whatever else
    // the window asks on the way.
    virtual bool answers(Display* display, const XEvent& event) = 0;
    // Once, after the last answer or when the probe stops waiting for one.
    virtual void end(Display* display) = 0;
};
