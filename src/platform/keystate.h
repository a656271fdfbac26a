// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The global state of a key, as a 16-bit word per virtual-key code: bit 15
// is set while the key is down, whichever program has the focus. Bit 0
// ("pressed since the last query") is reported only by a source that hears
// presses rather than reads the keys (the desktop's shortcuts). Queried in rounds:
// sample() takes the state of the keys, and the queries until the next
// sample() answer from it.
class KeyStateSource {
public:
    KeyStateSource() = default;
    KeyStateSource(const KeyStateSource&) = delete;
    KeyStateSource& operator=(const KeyStateSource&) = delete;
    virtual ~KeyStateSource() = default;

    // For a source that reads each key afresh at every query, nothing.
    virtual void sample() {}
    virtual std::uint16_t GetAsyncKeyState(int virtualKey) = 0;
};

// For a desktop whose key state cannot be read: no key is ever down.
class NoKeyState : public KeyStateSource {
public:
    std::uint16_t GetAsyncKeyState(int /*virtualKey*/) override { return 0; }
};

namespace VirtualKey {
inline constexpr int CapsLock = 0x14;
inline constexpr int A = 0x41;
inline constexpr int S = 0x53;
}

inline constexpr std::uint16_t keyDownBit = 0x8000;
