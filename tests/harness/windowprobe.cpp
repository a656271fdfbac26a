// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/windowprobe.h"

#include <algorithm>

#include <poll.h>

#include "harness/windowquestion.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto askEvery = std::chrono::milliseconds(20);
// Once stopped, the answer to a question already asked is still waited for,
// up to this long after the asking: the window may have it in hand and be
// asking back (for a drag's data), and would wait on a probe that had gone.
constexpr long long lastAnswerWithinUs = 1'000'000;

long long nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

WindowProbe::WindowProbe(const std::string& displayName, std::unique_ptr<WindowQuestion> question)
    : question_(std::move(question)), thread_([this, displayName] { run(displayName); })
{
}

WindowProbe::~WindowProbe()
{
    stopping_ = true;
    thread_.join();
}

std::chrono::milliseconds WindowProbe::longestWait() const
{
    long long longest = longestUs_.load();
    if (const long long since = awaitedSinceUs_.load(); since != 0)
        longest = std::max(longest, nowUs() - since);
    return std::chrono::milliseconds(longest / 1000);
}

void WindowProbe::run(const std::string& displayName)
{
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr)
        return;
    question_->begin(display);
    const long long start = nowUs();
    while (!stopping_) {
        const long long sent = nowUs();
        awaitedSinceUs_ = sent;
        question_->ask(display);
        XFlush(display);
        bool answered = false;
        while (!answered && !(stopping_ && nowUs() - sent > lastAnswerWithinUs)) {
            while (!answered && XPending(display) > 0) {
                XEvent event{};
                XNextEvent(display, &event);
                answered = question_->answers(display, event);
                XFlush(display);
            }
            if (!answered) {
                pollfd connection{ConnectionNumber(display), POLLIN, 0};
                poll(&connection, 1, 5);
            }
        }
        awaitedSinceUs_ = 0;
        if (!answered)
            break;
        if (nowUs() - sent > longestUs_.load()) {
            longestUs_ = nowUs() - sent;
            longestAtUs_ = sent - start;
        }
        ++answered_;
        std::this_thread::sleep_until(Clock::now() + askEvery);
    }
    question_->end(display);
    XCloseDisplay(display);
}
