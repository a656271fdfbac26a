// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11keystate.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {
constexpr std::array<KeySym, 3> watchedKeySyms{XK_Caps_Lock, XK_a, XK_s};
constexpr std::array<int, 3> watchedVirtualKeys{VirtualKey::CapsLock, VirtualKey::A, VirtualKey::S};
} // namespace

std::unique_ptr<X11KeyState> X11KeyState::connect(std::string& error)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        error = "cannot connect to the X display";
        return nullptr;
    }
    return std::unique_ptr<X11KeyState>(new X11KeyState(display));
}

X11KeyState::X11KeyState(_XDisplay* display) : display_(display)
{
    lookUpKeyCodes();
}

X11KeyState::~X11KeyState()
{
    XCloseDisplay(display_);
}

void X11KeyState::lookUpKeyCodes()
{
    for (std::size_t i = 0; i < watchedKeySyms.size(); ++i)
        keyCodes_[i] = XKeysymToKeycode(display_, watchedKeySyms[i]);
}

// Every client is sent MappingNotify when the keyboard mapping changes;
// nothing else arrives on this connection, which selects no events.
void X11KeyState::followMappingChanges()
{
    bool changed = false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            changed = true;
        }
    }
    if (changed)
        lookUpKeyCodes();
}

void X11KeyState::sample()
{
    followMappingChanges();
    XQueryKeymap(display_, keyMap_.data());
}

std::uint16_t X11KeyState::GetAsyncKeyState(int virtualKey)
{
    std::size_t watched = 0;
    while (watched < watchedVirtualKeys.size() && watchedVirtualKeys[watched] != virtualKey)
        ++watched;
    if (watched == watchedVirtualKeys.size() || keyCodes_[watched] == 0)
        return 0;
    const auto code = static_cast<std::size_t>(keyCodes_[watched]);
    const bool down = (static_cast<unsigned char>(keyMap_[code / 8]) >> (code % 8)) & 1U;
    return down ? keyDownBit : 0;
}
