// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

class WindowQuestion;

// Asks a window one question after another, from an X connection and a
// thread of its own, and times the answers: the program's GUI thread answers
// each as it handles it, so the longest wait for an answer is the longest the
// window was held. What is asked is the question's (windowquestion.h).
class WindowProbe {
public:
    WindowProbe(const std::string& displayName, std::unique_ptr<WindowQuestion> question);
    WindowProbe(const WindowProbe&) = delete;
    WindowProbe& operator=(const WindowProbe&) = delete;
    ~WindowProbe();

    // The longest wait for an answer so far, one still awaited included.
    std::chrono::milliseconds longestWait() const;
    // When the longest wait began, since the first question.
    std::chrono::milliseconds longestAt() const { return std::chrono::milliseconds(longestAtUs_.load() / 1000); }
    // The time since the first question, to tell when something happened.
    std::chrono::milliseconds sinceStart() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
    }
    // The questions answered so far.
    int answered() const { return answered_.load(); }

private:
    void run(const std::string& displayName);

    std::unique_ptr<WindowQuestion> question_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::atomic<bool> stopping_{false};
    std::atomic<long long> longestUs_{0};
    std::atomic<long long> longestAtUs_{0};
    std::atomic<long long> awaitedSinceUs_{0};
    std::atomic<int> answered_{0};
    std::thread thread_;
};
