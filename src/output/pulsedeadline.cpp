// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulsedeadline.h"

#include <pulse/context.h>
#include <pulse/mainloop-api.h>
#include <pulse/rtclock.h>

#include "output/outputlog.h"
#include "output/pulsemainloop.h"

PulseDeadline::PulseDeadline(PulseMainLoop& mainLoop, std::chrono::milliseconds bound,
                             std::function<void()> onPassed)
    : mainLoop_(mainLoop), onPassed_(std::move(onPassed))
{
    const auto at = pa_rtclock_now() + static_cast<pa_usec_t>(std::chrono::microseconds(bound).count());
    timer_ = pa_context_rttime_new(mainLoop_.context(), at, &PulseDeadline::onTime, this);
    if (timer_ == nullptr) {
        qCDebug(outputLog) << "cannot set a deadline on the main loop: given up at once";
        passed_ = true;
    }
}

PulseDeadline::~PulseDeadline()
{
    if (timer_ != nullptr)
        mainLoop_.api()->time_free(timer_);
}

void PulseDeadline::onTime(pa_mainloop_api* api, pa_time_event* event, const timeval* /*when*/, void* self)
{
    auto* deadline = static_cast<PulseDeadline*>(self);
    api->time_free(event);
    deadline->timer_ = nullptr;
    deadline->passed_ = true;
    if (deadline->onPassed_)
        deadline->onPassed_();
    deadline->mainLoop_.signal();
}
