// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulsemainloop.h"

#include <mutex>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

#include "output/outputlog.h"
#include "output/pulsecookie.h"
#include "output/pulsedeadline.h"
#include "output/pulseproplist.h"
#include "output/pulsewaitcancel.h"

namespace {

constexpr const char* clientFailed = "cannot start the sound server's client";

} // namespace

PulseMainLoop::PulseMainLoop(std::function<void()> onLost, PulseWaitCancel& cancel, ApplicationIdentity identity)
    : onLost_(std::move(onLost)), cancel_(cancel), identity_(std::move(identity))
{
}

PulseMainLoop::~PulseMainLoop()
{
    if (mainloop_ == nullptr)
        return;
    cancel_.attach(nullptr);
    if (context_ != nullptr) {
        const std::lock_guard lock(*this);
        connectDeadline_.reset();
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

bool PulseMainLoop::startConnecting(std::string& error)
{
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) {
        error = clientFailed;
        return false;
    }
    cancel_.attach(mainloop_);
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        error = clientFailed;
        return false;
    }
    const std::lock_guard lock(*this);
    // The mixer names the connection's streams after the application and
    // shows its icon.
    const PulseProplist properties = makePulseProplist({{PA_PROP_APPLICATION_NAME, identity_.name},
                                                        {PA_PROP_APPLICATION_ID, identity_.desktopId},
                                                        {PA_PROP_APPLICATION_ICON_NAME, identity_.desktopId}});
    context_ = pa_context_new_with_proplist(api(), nullptr, properties.get());
    if (context_ == nullptr) {
        error = clientFailed;
        return false;
    }
    readCookieWithoutCreating(context_);
    pa_context_set_state_callback(context_, &PulseMainLoop::onContextState, this);
    // Never start a server of its own: where none runs, ALSA plays.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = lastError();
        return false;
    }
    // A connection still not ready when its bound passes is given up.
    connectDeadline_ = std::make_unique<PulseDeadline>(*this, connectBound, [this] {
        if (pa_context_get_state(context_) != PA_CONTEXT_READY)
            markUnanswered();
    });
    return true;
}

bool PulseMainLoop::waitUntilConnected(std::string& error)
{
    const auto settled = [this] {
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state) || unanswered();
    };
    if (!waitUntil(settled, *connectDeadline_, error))
        return false;
    if (unanswered()) {
        error = serverUnansweredReason;
        return false;
    }
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
        error = lastError();
        return false;
    }
    return true;
}

void PulseMainLoop::lock()
{
    pa_threaded_mainloop_lock(mainloop_);
}

void PulseMainLoop::unlock()
{
    pa_threaded_mainloop_unlock(mainloop_);
}

void PulseMainLoop::signal()
{
    pa_threaded_mainloop_signal(mainloop_, 0);
}

bool PulseMainLoop::waitUntil(const std::function<bool()>& done, const PulseDeadline& deadline, std::string& error)
{
    while (!done()) {
        if (cancel_.cancelled()) {
            error = "the wait on the sound server was cancelled";
            return false;
        }
        if (deadline.passed()) {
            markUnanswered();
            error = serverUnansweredReason;
            return false;
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    return true;
}

bool PulseMainLoop::await(pa_operation* operation, std::string& error)
{
    if (operation == nullptr) {
        error = lastError();
        return false;
    }
    const PulseDeadline deadline(*this, answerBound);
    const bool answered = waitUntil(
        [&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING || lost(); }, deadline, error);
    const pa_operation_state_t state = pa_operation_get_state(operation);
    if (state == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (answered && state != PA_OPERATION_DONE) {
        error = "the connection to the sound server was lost";
        return false;
    }
    return answered;
}

void PulseMainLoop::markLost(const std::string& reason)
{
    if (!lost_.exchange(true))
        qCDebug(outputLog) << "the connection to the sound server is gone:" << reason.c_str();
    onLost_();
}

void PulseMainLoop::markUnanswered()
{
    if (!unanswered_.exchange(true))
        markLost(serverUnansweredReason);
}

pa_mainloop_api* PulseMainLoop::api() const
{
    return pa_threaded_mainloop_get_api(mainloop_);
}

std::string PulseMainLoop::lastError() const
{
    return pa_strerror(pa_context_errno(context_));
}

void PulseMainLoop::onContextState(pa_context* context, void* self)
{
    auto* mainLoop = static_cast<PulseMainLoop*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        mainLoop->markLost(mainLoop->lastError());
    mainLoop->signal();
}
