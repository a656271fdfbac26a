// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

// Checks `done` every `every` until it holds or the timeout passes, without
// processing this process's events: for what other processes do (a server
// starting, a window appearing, sound reaching a recording). Returns how long
// it took to hold, nothing when it did not within the timeout.
inline std::optional<std::chrono::milliseconds> pollUntil(const std::function<bool()>& done,
                                                          std::chrono::milliseconds timeout,
                                                          std::chrono::milliseconds every = std::chrono::milliseconds(1))
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (done())
            return std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
        if (now - start >= timeout)
            return std::nullopt;
        std::this_thread::sleep_for(every);
    }
}
