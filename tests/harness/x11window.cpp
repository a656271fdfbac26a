// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/x11window.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <stdexcept>

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include "harness/process.h"
#include "support/poll.h"

namespace {
// Windows come and go under the tests' feet: a call on one that has gone
// fails and returns as such, instead of ending the test.
int ignoreErrors(Display* /*display*/, XErrorEvent* /*error*/)
{
    return 0;
}
} // namespace

X11Connection::X11Connection(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str()))
{
    XSetErrorHandler(&ignoreErrors);
    if (display_ == nullptr)
        throw std::runtime_error("cannot open display " + displayName);
}

X11Connection::~X11Connection()
{
    XCloseDisplay(display_);
}

std::string X11Connection::title(Window window)
{
    const Atom netWmName = XInternAtom(display_, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string result;
    if (XGetWindowProperty(display_, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after, &data)
            == Success
        && data != nullptr) {
        result.assign(reinterpret_cast<char*>(data), count);
    }
    if (data != nullptr)
        XFree(data);
    return result;
}

std::string X11Connection::windowClass(Window window)
{
    XClassHint hint{};
    if (XGetClassHint(display_, window, &hint) == 0)
        return {};
    std::string result = hint.res_class != nullptr ? hint.res_class : "";
    XFree(hint.res_name);
    XFree(hint.res_class);
    return result;
}

bool X11Connection::hasProperty(Window window, const std::string& name)
{
    int count = 0;
    Atom* atoms = XListProperties(display_, window, &count);
    const Atom wanted = XInternAtom(display_, name.c_str(), False);
    const bool found = std::find(atoms, atoms + count, wanted) != atoms + count;
    if (atoms != nullptr)
        XFree(atoms);
    return found;
}

std::optional<Window> X11Connection::search(Window from, const std::string& title)
{
    // Programs keep unmapped helper windows, some with the same title.
    if (this->title(from) == title && isViewable(from))
        return from;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::optional<Window> found;
    if (XQueryTree(display_, from, &root, &parent, &children, &count) != 0) {
        for (unsigned int i = 0; i < count && !found; ++i)
            found = search(children[i], title);
        if (children != nullptr)
            XFree(children);
    }
    return found;
}

std::optional<Window> X11Connection::findWindow(const std::string& title, std::chrono::milliseconds timeout)
{
    std::optional<Window> found;
    pollUntil([&] { return (found = search(DefaultRootWindow(display_), title)).has_value(); }, timeout,
              std::chrono::milliseconds(20));
    return found;
}

std::optional<std::chrono::milliseconds> X11Connection::timeUntilGone(Window window, std::chrono::milliseconds timeout)
{
    return pollUntil([&] { return !isViewable(window); }, timeout);
}

bool X11Connection::isViewable(Window window)
{
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.map_state == IsViewable;
}

X11Connection::Size X11Connection::clientSize(Window window)
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(display_, window, &attributes);
    return {attributes.width, attributes.height};
}

X11Connection::Point X11Connection::screenPosition(Window window)
{
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return {x, y};
}

X11Connection::Image X11Connection::grab(Window window)
{
    return grab(window, {0, 0}, clientSize(window));
}

X11Connection::Image X11Connection::grab(Window window, Point from, Size size)
{
    Image image{size.width, size.height, {}};
    XImage* x = XGetImage(display_, window, from.x, from.y, static_cast<unsigned>(size.width),
                          static_cast<unsigned>(size.height), AllPlanes, ZPixmap);
    if (x == nullptr)
        return {};
    image.pixels.reserve(static_cast<std::size_t>(size.width) * size.height);
    for (int y = 0; y < size.height; ++y) {
        for (int px = 0; px < size.width; ++px)
            image.pixels.push_back(static_cast<std::uint32_t>(XGetPixel(x, px, y) & 0xFFFFFF));
    }
    XDestroyImage(x);
    return image;
}

Window X11Connection::focusedWindow()
{
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus;
}

void X11Connection::requestClose(Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
}

bool screenshot(const std::string& displayName, const std::string& path)
{
    ChildProcess::Options options;
    options.arguments = {"-display", displayName, "-window", "root", path};
    ChildProcess import("/usr/bin/import", options);
    return import.waitForExit(std::chrono::seconds(20)) == 0;
}
