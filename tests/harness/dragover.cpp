// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/dragover.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string_view>

#include "harness/windowquestion.h"

namespace {

constexpr long xdndVersion = 5;

// The file's URI, its name's bytes percent-encoded as a file manager sends
// them.
std::string fileUri(const std::string& file)
{
    std::string uri = "file://";
    for (const char c : file) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || std::string_view("/-._~").find(c) != std::string_view::npos) {
            uri += c;
        } else {
            std::array<char, 4> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "%%%02X", byte);
            uri += escaped.data();
        }
    }
    return uri;
}

// The source's side of XDND: it enters the window, moves within it, offers
// the file as a URI list when the window asks for it, and leaves.
class XdndPositions : public WindowQuestion {
public:
    XdndPositions(Window target, const std::string& file, int x, int y, std::atomic<int>& refused)
        : target_(target), uris_(fileUri(file) + "\r\n"), x_(x), y_(y), refused_(refused)
    {
    }

    void begin(Display* display) override
    {
        source_ = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        selection_ = XInternAtom(display, "XdndSelection", False);
        uriList_ = XInternAtom(display, "text/uri-list", False);
        position_ = XInternAtom(display, "XdndPosition", False);
        status_ = XInternAtom(display, "XdndStatus", False);
        copy_ = XInternAtom(display, "XdndActionCopy", False);
        XSetSelectionOwner(display, selection_, source_, CurrentTime);
        // Three types at most are named in the message itself.
        const Atom enter = XInternAtom(display, "XdndEnter", False);
        send(display, enter, {static_cast<long>(source_), xdndVersion << 24, static_cast<long>(uriList_), 0, 0});
    }

    void ask(Display* display) override
    {
        // To and fro by a pixel, as a hand that holds still.
        const long x = x_ + (++moves_ % 2);
        send(display, position_,
             {static_cast<long>(source_), 0, (x << 16) | y_, CurrentTime, static_cast<long>(copy_)});
    }

    bool answers(Display* display, const XEvent& event) override
    {
        if (event.type == SelectionRequest) {
            give(display, event.xselectionrequest);
            return false;
        }
        if (event.type != ClientMessage || event.xclient.message_type != status_
            || static_cast<Window>(event.xclient.data.l[0]) != target_)
            return false;
        if ((event.xclient.data.l[1] & 1) == 0)
            ++refused_;
        return true;
    }

    void end(Display* display) override
    {
        send(display, XInternAtom(display, "XdndLeave", False), {static_cast<long>(source_), 0, 0, 0, 0});
        XDestroyWindow(display, source_);
    }

private:
    void send(Display* display, Atom message, const std::array<long, 5>& data) const
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = target_;
        event.xclient.message_type = message;
        event.xclient.format = 32;
        std::copy(data.begin(), data.end(), event.xclient.data.l);
        XSendEvent(display, target_, False, NoEventMask, &event);
    }

    // The dragged data, to the window that asks for it.
    void give(Display* display, const XSelectionRequestEvent& request)
    {
        XEvent notify{};
        notify.xselection.type = SelectionNotify;
        notify.xselection.requestor = request.requestor;
        notify.xselection.selection = request.selection;
        notify.xselection.target = request.target;
        notify.xselection.time = request.time;
        notify.xselection.property = None;
        if (request.selection == selection_ && request.target == uriList_) {
            const Atom property = request.property != None ? request.property : request.target;
            XChangeProperty(display, request.requestor, property, uriList_, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(uris_.data()), static_cast<int>(uris_.size()));
            notify.xselection.property = property;
        }
        XSendEvent(display, request.requestor, False, NoEventMask, &notify);
    }

    const Window target_;
    const std::string uris_;
    const long x_;
    const long y_;
    std::atomic<int>& refused_;
    Window source_ = None;
    Atom selection_ = None;
    Atom uriList_ = None;
    Atom position_ = None;
    Atom status_ = None;
    Atom copy_ = None;
    long moves_ = 0;
};

} // namespace

DragOver::DragOver(const std::string& displayName, Window window, const std::string& file, int x, int y)
    : WindowProbe(displayName, std::make_unique<XdndPositions>(window, file, x, y, refused))
{
}
