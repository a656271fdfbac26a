// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;
struct pa_mainloop_api;

// A connection to the sound server: libpulse's threaded main loop and its
// context, owned together and freed together.
//
// Threads and the lock: the main loop's own thread runs every libpulse
// callback of this connection and of its streams, with the main loop's lock
// held. Any other thread holds the lock (std::lock_guard or std::unique_lock
// on this object) around every call into libpulse for this connection.
//
// Lock order: the main loop's lock first, then the playback thread's mutex.
// The callbacks run with the main loop's lock held and wake the engine,
// which takes the engine thread's mutex; the engine's thread therefore never
// calls into the output while holding its own mutex.
class PulseMainLoop {
public:
    // `onLost` is called, with the lock held, when the connection or one of
    // its streams is lost.
    explicit PulseMainLoop(std::function<void()> onLost);
    PulseMainLoop(const PulseMainLoop&) = delete;
    PulseMainLoop& operator=(const PulseMainLoop&) = delete;
    // Without the lock held.
    ~PulseMainLoop();

    // Starts the main loop and connects to the server, never starting a
    // server of its own, and waits until the connection is ready or has
    // failed. Without the lock held.
    bool connect(std::string& error);

    // The main loop's lock.
    void lock();
    void unlock();
    // With the lock held: gives the lock up until a callback signals.
    void wait();
    // From a callback: wakes a thread in wait().
    void signal();
    // With the lock held: waits until the operation is done, and unrefs it.
    // False where it could not be started or the connection is lost first
    // (the operation is then cancelled, so its callback is never called).
    bool await(pa_operation* operation, std::string& error);

    // The connection or one of its streams is gone: set from either thread
    // with the lock held, read without it.
    bool lost() const { return lost_.load(); }
    void markLost(const std::string& reason);

    pa_context* context() const { return context_; }
    pa_mainloop_api* api() const;
    // The reason the context gives for its last failed call.
    std::string lastError() const;

private:
    static void onContextState(pa_context* context, void* self);

    const std::function<void()> onLost_;
    // Set by connect() alone, before the callbacks can run.
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> lost_{false};
};
