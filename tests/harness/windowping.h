// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "harness/x11window.h"

// Pings a window all along, as a window manager does to tell a program that
// has stopped answering (_NET_WM_PING): the program's GUI thread answers
// each ping as it handles it, so the longest wait for an answer is the
// longest the window was held. From its own X connection and thread.
class WindowPing {
public:
    WindowPing(const std::string& displayName, Window window);
    WindowPing(const WindowPing&) = delete;
    WindowPing& operator=(const WindowPing&) = delete;
    ~WindowPing();

    // The longest wait for an answer so far, one still awaited included.
    std::chrono::milliseconds longestWait() const;
    // When the longest wait began, since the first ping.
    std::chrono::milliseconds longestAt() const { return std::chrono::milliseconds(longestAtUs_.load() / 1000); }
    // The time since the first ping, to tell when something happened.
    std::chrono::milliseconds sinceStart() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
    }
    // The pings answered so far.
    int answered() const { return answered_.load(); }

private:
    void run(const std::string& displayName, Window window);

    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::atomic<bool> stopping_{false};
    std::atomic<long long> longestUs_{0};
    std::atomic<long long> longestAtUs_{0};
    std::atomic<long long> awaitedSinceUs_{0};
    std::atomic<int> answered_{0};
    std::thread thread_;
};
