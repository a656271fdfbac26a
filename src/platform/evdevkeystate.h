// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/keystate.h"

// Reads the kernel's key state of every keyboard under /dev/input, which
// sees keys whichever program has the focus, on Wayland too. Needs read
// access to the devices (usually membership of the 'input' group). Keys are
// taken by their position on the keyboard, as the kernel reports them.
class EvdevKeyState : public KeyStateSource {
public:
    // Opens the keyboards; nullptr and `error` if none can be read.
    static std::unique_ptr<EvdevKeyState> open(std::string& error);
    EvdevKeyState(const EvdevKeyState&) = delete;
    EvdevKeyState& operator=(const EvdevKeyState&) = delete;
    ~EvdevKeyState() override;

    std::uint16_t GetAsyncKeyState(int virtualKey) override;

private:
    explicit EvdevKeyState(std::vector<int> keyboards) : keyboards_(std::move(keyboards)) {}

    std::vector<int> keyboards_;
};
