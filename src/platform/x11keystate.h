// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <bitset>
#include <map>
#include <memory>
#include <string>

#include "platform/keystate.h"

struct _XDisplay; // NOLINT(bugprone-reserved-identifier): Xlib's own name
union _XEvent;    // NOLINT(bugprone-reserved-identifier): Xlib's own name

// Follows the X server's keyboards, whichever window has the focus, from
// XInput 2's raw key events: they come to the root window unasked for and
// ungrabbed, so no key is taken from anyone. A sample takes the events the
// server has sent since the last one without a round trip to it, so that a
// tick of the chords' timer wakes nothing but itself.
class X11KeyState : public KeyStateSource {
public:
    // Connects to the display DISPLAY names; nullptr and `error` if it cannot,
    // or if its server has no XInput 2.2.
    static std::unique_ptr<X11KeyState> connect(std::string& error);
    ~X11KeyState() override;

    void sample() override;
    std::uint16_t GetAsyncKeyState(int virtualKey) override;

private:
    X11KeyState(_XDisplay* display, int xinputOpcode);
    // Key codes of the keys we watch, found again when the mapping changes.
    void lookUpKeyCodes();
    void follow(_XEvent& event);

    using KeyCodes = std::bitset<256>;
    // Keys down as the key map read at the start had them, until released.
    static constexpr int downBeforeWatching = -1;

    _XDisplay* display_;
    const int xinputOpcode_;
    std::array<int, 3> keyCodes_{}; // Caps Lock, A, S
    // The keys down, by the keyboard (slave device) holding them: a key is
    // down while any keyboard holds it, as in the core key map.
    std::map<int, KeyCodes> downBy_;
};
