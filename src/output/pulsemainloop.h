// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "output/applicationidentity.h"

class PulseDeadline;
class PulseWaitCancel;
struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;
struct pa_mainloop_api;

// A connection to the sound server: libpulse's threaded main loop and its
// context, owned together and freed together.
//
// Every wait on the server is bounded: the connection has its bound from the
// moment it starts, each other wait has its own deadline, and a wait also
// ends once the waits are cancelled. A server that lets a bound pass counts
// as gone: the connection is marked lost, and the next one is made afresh.
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
    // How long the server has to answer a connection. A healthy local server
    // answers within milliseconds even on a loaded machine; a server that has
    // accepted and stays silent would otherwise be waited on for libpulse's
    // own 30 seconds.
    static constexpr std::chrono::milliseconds connectBound{2000};
    // How long the server has to answer an operation or make a stream ready.
    static constexpr std::chrono::milliseconds answerBound{1000};

    // `onLost` is called, with the lock held, when the connection or one of
    // its streams is lost. `cancel` outlives this object. The server sees
    // the connection as the identity's.
    PulseMainLoop(std::function<void()> onLost, PulseWaitCancel& cancel, ApplicationIdentity identity);
    PulseMainLoop(const PulseMainLoop&) = delete;
    PulseMainLoop& operator=(const PulseMainLoop&) = delete;
    // Without the lock held.
    ~PulseMainLoop();

    // Starts the main loop and starts connecting to the server, never
    // starting a server of its own, without waiting. Without the lock held.
    bool startConnecting(std::string& error);
    // With the lock held: waits until the connection is ready; false with the
    // reason where it failed, its bound passed or the waits were cancelled.
    bool waitUntilConnected(std::string& error);

    // The main loop's lock.
    void lock();
    void unlock();
    // From a callback: wakes a thread in a wait.
    void signal();
    // With the lock held: waits until `done` holds. False with the reason
    // where the deadline passes or the waits are cancelled first; a deadline
    // passed loses the connection.
    bool waitUntil(const std::function<bool()>& done, const PulseDeadline& deadline, std::string& error);
    // With the lock held: waits, within answerBound, until the operation is
    // done, and unrefs it. False where it could not be started or the
    // connection is lost first (the operation is then cancelled, so its
    // callback is never called).
    bool await(pa_operation* operation, std::string& error);

    // The connection or one of its streams is gone: set from either thread
    // with the lock held, read without it.
    bool lost() const { return lost_.load(); }
    void markLost(const std::string& reason);
    // The server let a bound pass: set with the lock held, read without it.
    bool unanswered() const { return unanswered_.load(); }

    pa_context* context() const { return context_; }
    pa_mainloop_api* api() const;
    // The reason the context gives for its last failed call.
    std::string lastError() const;

private:
    // With the lock held: the server let a bound pass.
    void markUnanswered();
    static void onContextState(pa_context* context, void* self);

    const std::function<void()> onLost_;
    PulseWaitCancel& cancel_;
    const ApplicationIdentity identity_;
    // Set by startConnecting() alone, before the callbacks can run.
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    // The connection's bound, from its start; under the lock.
    std::unique_ptr<PulseDeadline> connectDeadline_;
    std::atomic<bool> lost_{false};
    std::atomic<bool> unanswered_{false};
};

// What a wait says when the server let its bound pass.
inline constexpr const char* serverUnansweredReason = "the sound server does not answer";
