// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/evdevkeystate.h"

#include <array>
#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr std::size_t keyBitBytes = KEY_MAX / 8 + 1;
using KeyBits = std::array<unsigned char, keyBitBytes>;

bool bitSet(const KeyBits& bits, int code)
{
    return ((bits[static_cast<std::size_t>(code) / 8] >> (code % 8)) & 1U) != 0;
}

int evdevCode(int virtualKey)
{
    switch (virtualKey) {
    case VirtualKey::CapsLock:
        return KEY_CAPSLOCK;
    case VirtualKey::A:
        return KEY_A;
    case VirtualKey::S:
        return KEY_S;
    default:
        return -1;
    }
}

// A device that has letter keys and Caps Lock is a keyboard.
bool isKeyboard(int fd)
{
    KeyBits supported{};
    if (ioctl(fd, EVIOCGBIT(EV_KEY, supported.size()), supported.data()) < 0)
        return false;
    return bitSet(supported, KEY_A) && bitSet(supported, KEY_S) && bitSet(supported, KEY_CAPSLOCK);
}

} // namespace

std::unique_ptr<EvdevKeyState> EvdevKeyState::open(std::string& error)
{
    std::vector<int> keyboards;
    bool denied = false;
    std::error_code unlisted;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/input", unlisted)) {
        if (entry.path().filename().string().rfind("event", 0) != 0)
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            denied = denied || errno == EACCES || errno == EPERM;
            continue;
        }
        if (isKeyboard(fd))
            keyboards.push_back(fd);
        else
            ::close(fd);
    }
    if (keyboards.empty()) {
        error = denied ? "this user may not read the input devices under /dev/input "
                         "(membership of the 'input' group gives access)"
                       : "no keyboard found under /dev/input";
        return nullptr;
    }
    return std::unique_ptr<EvdevKeyState>(new EvdevKeyState(std::move(keyboards)));
}

EvdevKeyState::~EvdevKeyState()
{
    for (const int fd : keyboards_)
        ::close(fd);
}

std::uint16_t EvdevKeyState::GetAsyncKeyState(int virtualKey)
{
    const int code = evdevCode(virtualKey);
    if (code < 0)
        return 0;
    for (const int fd : keyboards_) {
        KeyBits state{};
        if (ioctl(fd, EVIOCGKEY(state.size()), state.data()) >= 0 && bitSet(state, code))
            return keyDownBit;
    }
    return 0;
}
