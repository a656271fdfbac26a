// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulsewaitcancel.h"

#include <pulse/thread-mainloop.h>

void PulseWaitCancel::cancel()
{
    const std::lock_guard lock(mutex_);
    cancelled_.store(true);
    if (mainloop_ == nullptr)
        return;
    // Under the main loop's lock, a waiter is either before its check of the
    // flag or inside its wait: the signal cannot fall between the two.
    pa_threaded_mainloop_lock(mainloop_);
    pa_threaded_mainloop_signal(mainloop_, 0);
    pa_threaded_mainloop_unlock(mainloop_);
}

void PulseWaitCancel::attach(pa_threaded_mainloop* mainloop)
{
    const std::lock_guard lock(mutex_);
    mainloop_ = mainloop;
}
