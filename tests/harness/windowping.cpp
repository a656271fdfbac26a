// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/windowping.h"

#include <X11/Xlib.h>

#include <algorithm>

#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto pingEvery = std::chrono::milliseconds(20);

long long nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

WindowPing::WindowPing(const std::string& displayName, Window window)
    : thread_([this, displayName, window] { run(displayName, window); })
{
}

WindowPing::~WindowPing()
{
    stopping_ = true;
    thread_.join();
}

std::chrono::milliseconds WindowPing::longestWait() const
{
    long long longest = longestUs_.load();
    if (const long long since = awaitedSinceUs_.load(); since != 0)
        longest = std::max(longest, nowUs() - since);
    return std::chrono::milliseconds(longest / 1000);
}

void WindowPing::run(const std::string& displayName, Window window)
{
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr)
        return;
    const Window root = DefaultRootWindow(display);
    // The answer is sent to the root window, to those who follow its
    // structure or that of its children.
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    long serial = 0;
    const long long start = nowUs();
    while (!stopping_) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(ping);
        event.xclient.data.l[1] = ++serial;
        event.xclient.data.l[2] = static_cast<long>(window);
        const long long sent = nowUs();
        awaitedSinceUs_ = sent;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
        bool answered = false;
        while (!answered && !stopping_) {
            while (!answered && XPending(display) > 0) {
                XEvent reply{};
                XNextEvent(display, &reply);
                answered = reply.type == ClientMessage && reply.xclient.message_type == protocols
                           && static_cast<Atom>(reply.xclient.data.l[0]) == ping && reply.xclient.data.l[1] == serial;
            }
            if (!answered) {
                pollfd connection{ConnectionNumber(display), POLLIN, 0};
                poll(&connection, 1, 5);
            }
        }
        awaitedSinceUs_ = 0;
        if (!answered)
            break;
        if (nowUs() - sent > longestUs_.load()) {
            longestUs_ = nowUs() - sent;
            longestAtUs_ = sent - start;
        }
        ++answered_;
        std::this_thread::sleep_until(Clock::now() + pingEvery);
    }
    XCloseDisplay(display);
}
