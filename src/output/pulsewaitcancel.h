// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <mutex>

struct pa_threaded_mainloop;

// Ends the engine's waits on the sound server from another thread, as the
// engine stops: the wait in progress ends at once, and every later one fails
// without waiting. One serves an output and each connection it makes.
//
// Threads and locks: the engine's thread attaches the main loop of its
// current connection and detaches it before freeing it, never holding the
// main loop's lock; cancel() comes from any other thread. The mutex guards
// the attached main loop and is taken before the main loop's lock, never
// after: waiters read the flag, an atomic, under the main loop's lock alone.
class PulseWaitCancel {
public:
    // Any thread but the main loop's own.
    void cancel();
    // With the main loop's lock held, or from any thread.
    bool cancelled() const { return cancelled_.load(); }

    // Engine thread, without the main loop's lock: the main loop whose waits
    // cancel() wakes, or nullptr before it is freed.
    void attach(pa_threaded_mainloop* mainloop);

private:
    std::mutex mutex_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    std::atomic<bool> cancelled_{false};
};
