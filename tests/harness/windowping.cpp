// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/windowping.h"

#include <memory>

#include "harness/windowquestion.h"

namespace {

// _NET_WM_PING, answered by the window sending the message back to the root
// window.
class Ping : public WindowQuestion {
public:
    explicit Ping(Window window) : window_(window) {}

    void begin(Display* display) override
    {
        // The answer goes to those who follow the root window's structure or
        // that of its children.
        XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask | SubstructureNotifyMask);
        protocols_ = XInternAtom(display, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(display, "_NET_WM_PING", False);
    }

    void ask(Display* display) override
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window_;
        event.xclient.message_type = protocols_;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(ping_);
        event.xclient.data.l[1] = ++serial_;
        event.xclient.data.l[2] = static_cast<long>(window_);
        XSendEvent(display, window_, False, NoEventMask, &event);
    }

    bool answers(Display* /*display*/, const XEvent& event) override
    {
        return event.type == ClientMessage && event.xclient.message_type == protocols_
               && static_cast<Atom>(event.xclient.data.l[0]) == ping_ && event.xclient.data.l[1] == serial_;
    }

    void end(Display* /*display*/) override {}

private:
    const Window window_;
    Atom protocols_ = None;
    Atom ping_ = None;
    long serial_ = 0;
};

} // namespace

WindowPing::WindowPing(const std::string& displayName, Window window)
    : WindowProbe(displayName, std::make_unique<Ping>(window))
{
}
