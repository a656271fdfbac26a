// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "platform/keystate.h"

struct _XDisplay; // NOLINT(bugprone-reserved-identifier): Xlib's own name

// Reads the X server's live key map, the state of the keyboard whichever
// window has the focus. Needs no grab, so no key is taken from anyone.
class X11KeyState : public KeyStateSource {
public:
    // Connects to the display DISPLAY names; nullptr and `error` if it cannot.
    static std::unique_ptr<X11KeyState> connect(std::string& error);
    ~X11KeyState() override;

    // One round trip to the X server: the key map, as the queries see it.
    void sample() override;
    std::uint16_t GetAsyncKeyState(int virtualKey) override;

private:
    explicit X11KeyState(_XDisplay* display);
    // Key codes of the keys we watch, found again when the mapping changes.
    void lookUpKeyCodes();
    void followMappingChanges();

    _XDisplay* display_;
    std::array<int, 3> keyCodes_{}; // Caps Lock, A, S
    // A bit for each key code, set while that key is down.
    std::array<char, 32> keyMap_{};
};
