// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11keystate.h"

#include <algorithm>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace {

constexpr std::array<KeySym, 3> watchedKeySyms{XK_Caps_Lock, XK_a, XK_s};
constexpr std::array<int, 3> watchedVirtualKeys{VirtualKey::CapsLock, VirtualKey::A, VirtualKey::S};

// Raw events whatever grabs are active came with 2.1; 2.2 is what every
// server since 2012 has.
bool selectRawKeys(Display* display, int& opcode, std::string& error)
{
    int event = 0;
    int xerror = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &xerror)
        || XIQueryVersion(display, &major, &minor) != Success) {
        error = "the X server has no XInput 2.2";
        return false;
    }
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
    XISetMask(bits.data(), XI_HierarchyChanged);
    XIEventMask mask{XIAllDevices, static_cast<int>(bits.size()), bits.data()};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    return true;
}

} // namespace

std::unique_ptr<X11KeyState> X11KeyState::connect(std::string& error)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        error = "cannot connect to the X display";
        return nullptr;
    }
    int opcode = 0;
    if (!selectRawKeys(display, opcode, error)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11KeyState>(new X11KeyState(display, opcode));
}

// The key map is read after the raw events are asked for: an event that
// comes before its reply is in it already, and following it again changes
// nothing.
X11KeyState::X11KeyState(_XDisplay* display, int xinputOpcode) : display_(display), xinputOpcode_(xinputOpcode)
{
    lookUpKeyCodes();
    std::array<char, 32> keyMap{};
    XQueryKeymap(display_, keyMap.data());
    KeyCodes& down = downBy_[downBeforeWatching];
    for (std::size_t code = 0; code < down.size(); ++code)
        down[code] = ((static_cast<unsigned char>(keyMap[code / 8]) >> (code % 8)) & 1U) != 0;
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

// XPending reads what has arrived without waiting for more. Every client is
// sent MappingNotify when the keyboard mapping changes.
void X11KeyState::sample()
{
    bool mappingChanged = false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            mappingChanged = true;
        } else {
            follow(event);
        }
    }
    if (mappingChanged)
        lookUpKeyCodes();
}

void X11KeyState::follow(XEvent& event)
{
    XGenericEventCookie& cookie = event.xcookie;
    if (cookie.type != GenericEvent || cookie.extension != xinputOpcode_ || !XGetEventData(display_, &cookie))
        return;
    if (cookie.evtype == XI_RawKeyPress || cookie.evtype == XI_RawKeyRelease) {
        const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
        const auto code = static_cast<std::size_t>(raw->detail);
        if (code < KeyCodes().size() && cookie.evtype == XI_RawKeyPress) {
            downBy_[raw->sourceid].set(code);
        } else if (code < KeyCodes().size()) {
            downBy_[raw->sourceid].reset(code);
            downBy_[downBeforeWatching].reset(code);
        }
    } else if (cookie.evtype == XI_HierarchyChanged) {
        // A keyboard unplugged holds no key.
        const auto* change = static_cast<const XIHierarchyEvent*>(cookie.data);
        for (int i = 0; i < change->num_info; ++i) {
            if ((change->info[i].flags & (XISlaveRemoved | XIDeviceDisabled)) != 0)
                downBy_.erase(change->info[i].deviceid);
        }
    }
    XFreeEventData(display_, &cookie);
}

std::uint16_t X11KeyState::GetAsyncKeyState(int virtualKey)
{
    const auto* const watched = std::find(watchedVirtualKeys.begin(), watchedVirtualKeys.end(), virtualKey);
    if (watched == watchedVirtualKeys.end())
        return 0;
    const int code = keyCodes_[static_cast<std::size_t>(watched - watchedVirtualKeys.begin())];
    if (code <= 0 || static_cast<std::size_t>(code) >= KeyCodes().size())
        return 0;
    const bool down = std::any_of(downBy_.begin(), downBy_.end(),
                                  [code](const auto& keyboard) { return keyboard.second.test(static_cast<std::size_t>(code)); });
    return down ? keyDownBit : 0;
}
