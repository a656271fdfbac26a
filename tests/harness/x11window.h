// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>


struct _XDisplay; // NOLINT(bugprone-reserved-identifier): Xlib's own name

// An X window id, as Xlib's Window; Xlib's header stays out of the tests,
// where its macros clash with Qt's names.
using Window = unsigned long;

// A connection to an X display, to find a program's window by its title,
// measure it, read its pixels and close it as a window manager would.
class X11Connection {
public:
    explicit X11Connection(const std::string& displayName);
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;
    ~X11Connection();

    std::optional<Window> findWindow(const std::string& title, std::chrono::milliseconds timeout);
    std::string title(Window window);
    bool isViewable(Window window);
    // How long until the window is no longer shown; nothing within the timeout.
    std::optional<std::chrono::milliseconds> timeUntilGone(Window window, std::chrono::milliseconds timeout);
    // The class half of WM_CLASS, which desktops match against a desktop
    // entry's StartupWMClass.
    std::string windowClass(Window window);
    // Whether the window has the property at all (_NET_WM_ICON, say).
    bool hasProperty(Window window, const std::string& name);

    struct Size {
        int width;
        int height;
    };
    Size clientSize(Window window);

    struct Point {
        int x;
        int y;
    };
    // Where the window's client area lies on the screen.
    Point screenPosition(Window window);

    struct Image {
        int width = 0;
        int height = 0;
        std::vector<std::uint32_t> pixels; // 0xRRGGBB
        std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    };
    Image grab(Window window);
    // The part of the window from `from`, of `size`.
    Image grab(Window window, Point from, Size size);

    // The window that has the keyboard focus.
    Window focusedWindow();

    // Asks the window to close, as a window manager's close button does.
    void requestClose(Window window);

private:
    std::optional<Window> search(Window from, const std::string& title);

    _XDisplay* display_;
};

// A pixel's brightness, 0 to 255.
inline int luminance(std::uint32_t rgb)
{
    return static_cast<int>(((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF)) / 3;
}

// Saves the whole screen of `displayName` as a PNG file.
bool screenshot(const std::string& displayName, const std::string& path);
