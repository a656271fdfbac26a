// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11closerequests.h"

#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

namespace {

std::uint32_t atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, std::strlen(name), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr)
        return XCB_ATOM_NONE;
    const std::uint32_t found = reply->atom;
    std::free(reply);
    return found;
}

} // namespace

std::unique_ptr<X11CloseRequests> X11CloseRequests::watch(QWindow* window)
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr)
        return nullptr;
    return std::unique_ptr<X11CloseRequests>(new X11CloseRequests(
        window, atom(x11->connection(), "WM_PROTOCOLS"), atom(x11->connection(), "WM_DELETE_WINDOW")));
}

X11CloseRequests::X11CloseRequests(QWindow* window, std::uint32_t protocols, std::uint32_t deleteWindow)
    : window_(window), windowId_(static_cast<std::uint32_t>(window->winId())), protocols_(protocols),
      deleteWindow_(deleteWindow)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11CloseRequests::~X11CloseRequests()
{
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11CloseRequests::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* request = static_cast<const xcb_client_message_event_t*>(message);
    if (request->window != windowId_ || request->type != protocols_ || request->format != 32
        || request->data.data32[0] != deleteWindow_ || QGuiApplication::modalWindow() == nullptr)
        return false;
    // Closed once this event is handled, from whatever event loop runs then.
    QMetaObject::invokeMethod(window_, [window = window_] { window->close(); }, Qt::QueuedConnection);
    return true;
}
