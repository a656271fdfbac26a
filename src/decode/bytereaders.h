// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// Numbers and tags read out of a file's bytes at `at`. The caller makes sure
// the bytes are there, except for tagAt, which tells when they are not.

inline std::uint32_t bigEndian32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) | (std::uint32_t{bytes[at + 2]} << 8)
           | std::uint32_t{bytes[at + 3]};
}

inline std::uint32_t littleEndian32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8) | (std::uint32_t{bytes[at + 2]} << 16)
           | (std::uint32_t{bytes[at + 3]} << 24);
}

// Whether `tag` is written at `at`.
inline bool tagAt(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view tag)
{
    return bytes.size() >= at + tag.size()
           && std::equal(tag.begin(), tag.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// A 28-bit number in four bytes of seven bits each, as ID3v2 writes sizes so
// that no byte looks like the start of an MPEG frame; nothing when a byte has
// its top bit set.
inline std::optional<std::uint32_t> synchsafe28(std::span<const std::uint8_t> bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        if (bytes[i] >= 0x80)
            return std::nullopt;
        value = (value << 7) | bytes[i];
    }
    return value;
}
