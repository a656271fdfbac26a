// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>

#include <QAbstractNativeEventFilter>

class QWindow;

// A window manager's close of one window on X11, obeyed even while a modal
// box blocks that window. Qt's X11 plugin drops such a request then, where it
// obeys the window's own close() and a Wayland compositor's request (which
// comes as a close()): so the request is passed on as a close().
class X11CloseRequests : public QAbstractNativeEventFilter {
public:
    // Watches `window`'s close requests; nothing off X11.
    static std::unique_ptr<X11CloseRequests> watch(QWindow* window);
    X11CloseRequests(const X11CloseRequests&) = delete;
    X11CloseRequests& operator=(const X11CloseRequests&) = delete;
    ~X11CloseRequests() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    X11CloseRequests(QWindow* window, std::uint32_t protocols, std::uint32_t deleteWindow);

    QWindow* window_;
    const std::uint32_t windowId_;
    const std::uint32_t protocols_;
    const std::uint32_t deleteWindow_;
};
