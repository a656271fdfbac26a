// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulsestream.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/operation.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>

#include "output/outputlog.h"
#include "output/pulsedeadline.h"
#include "output/pulsemainloop.h"
#include "output/pulseproplist.h"

namespace {

// What the server needs queued before it starts or restarts the stream.
constexpr std::chrono::milliseconds prebuffer{20};

// What a callback hands to the thread waiting on its operation. The
// operation is cancelled if the wait ends first, so the callback never
// outlives it.
struct StreamSuccess {
    PulseMainLoop& mainLoop;
    bool succeeded = false;
};

void onStreamSuccess(pa_stream* /*stream*/, int success, void* userdata)
{
    auto* result = static_cast<StreamSuccess*>(userdata);
    result->succeeded = success != 0;
    result->mainLoop.signal();
}

struct ServerName {
    PulseMainLoop& mainLoop;
    std::string name;
};

void onServerInfo(pa_context* /*context*/, const pa_server_info* info, void* userdata)
{
    auto* result = static_cast<ServerName*>(userdata);
    if (info != nullptr && info->server_name != nullptr)
        result->name = info->server_name;
    result->mainLoop.signal();
}

pa_usec_t usec(std::chrono::microseconds span)
{
    return static_cast<pa_usec_t>(span.count());
}

} // namespace

PulseStream::PulseStream(PulseMainLoop& mainLoop, std::function<void()> wake)
    : mainLoop_(mainLoop), wake_(std::move(wake))
{
}

PulseStream::~PulseStream()
{
    if (stream_ == nullptr)
        return;
    cancelCorkTimer();
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

bool PulseStream::connect(int rate, int channels, const std::string& title, std::string& error)
{
    format_ = {PA_SAMPLE_S16NE, static_cast<std::uint32_t>(rate), static_cast<std::uint8_t>(channels)};
    // The role lets the desktop's policies treat it as music: lowered or
    // corked during a call, say.
    const PulseProplist properties = makePulseProplist({{PA_PROP_MEDIA_ROLE, "music"}, {PA_PROP_MEDIA_NAME, title}});
    stream_ = pa_stream_new_with_proplist(mainLoop_.context(), nullptr, &format_, nullptr, properties.get());
    if (stream_ == nullptr) {
        error = mainLoop_.lastError();
        return false;
    }
    const auto bytes = [&](std::chrono::microseconds span) {
        return static_cast<std::uint32_t>(pa_usec_to_bytes(usec(span), &format_));
    };
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = bytes(queueAhead);
    attributes.prebuf = bytes(prebuffer);
    attributes.minreq = bytes(queueAhead / 4);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    // Timing: interpolated between the server's updates, and allowed to go
    // back when a cork rewinds the sink.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING
                                                      | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC
                                                      | PA_STREAM_ADJUST_LATENCY);
    pa_stream_set_state_callback(stream_, &PulseStream::onStateChange, this);
    pa_stream_set_write_callback(stream_, &PulseStream::onWriteRequest, this);
    pa_stream_set_underflow_callback(stream_, &PulseStream::onUnderflow, this);
    // The engine hears when what is heard stops or starts moving on.
    pa_stream_set_suspended_callback(stream_, &PulseStream::onSuspended, this);
    pa_stream_set_latency_update_callback(stream_, &PulseStream::onTimingUpdate, this);
    if (pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
        error = mainLoop_.lastError();
        return false;
    }
    const PulseDeadline deadline(mainLoop_, PulseMainLoop::answerBound);
    const auto settled = [this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    };
    if (!mainLoop_.waitUntil(settled, deadline, error))
        return false;
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        error = mainLoop_.lastError();
        return false;
    }
    char format[PA_SAMPLE_SPEC_SNPRINT_MAX];
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_);
    qCDebug(outputLog).nospace() << "stream created: " << pa_sample_spec_snprint(format, sizeof format, &format_)
                                 << ", " << (granted != nullptr ? granted->tlength : 0U) << " bytes queued ahead";
    corked_ = true;
    // PipeWire's PulseAudio service names itself so; PulseAudio rewinds its
    // sinks over what they mixed ahead, and PipeWire's graph cannot.
    ServerName server{mainLoop_, {}};
    std::string serverError;
    if (mainLoop_.await(pa_context_get_server_info(mainLoop_.context(), &onServerInfo, &server), serverError))
        takesBackWhatItRead_ = server.name.find("PipeWire") == std::string::npos;
    else
        qCDebug(outputLog) << "cannot ask the server its name:" << serverError.c_str();
    qCDebug(outputLog) << "the server" << (takesBackWhatItRead_ ? "takes back" : "plays out")
                       << "what it read of the stream when it is rewritten";
    return true;
}

std::int64_t PulseStream::framesIn(std::chrono::microseconds span) const
{
    return static_cast<std::int64_t>(pa_usec_to_bytes(usec(span), &format_) / frameBytes());
}

std::chrono::microseconds PulseStream::durationOf(std::int64_t frames) const
{
    const auto bytes = static_cast<std::uint64_t>(frames) * frameBytes();
    return std::chrono::microseconds(pa_bytes_to_usec(bytes, &format_));
}

std::size_t PulseStream::writableFrames() const
{
    const std::size_t bytes = pa_stream_writable_size(stream_);
    // None where the stream has failed, which its state callback reports.
    if (bytes == static_cast<std::size_t>(-1))
        return 0;
    return bytes / frameBytes();
}

bool PulseStream::write(const std::int16_t* samples, std::int64_t frames, std::string& error)
{
    ranDry_ = false;
    return writeBytes(samples, frames, 0, false, error);
}

bool PulseStream::writeAt(const std::int16_t* samples, std::int64_t frames, std::int64_t at, std::string& error)
{
    return writeBytes(samples, frames, at * static_cast<std::int64_t>(frameBytes()), true, error);
}

bool PulseStream::writeBytes(const std::int16_t* samples, std::int64_t frames, std::int64_t offset, bool absolute,
                             std::string& error)
{
    if (frames <= 0)
        return true;
    const std::size_t bytes = static_cast<std::size_t>(frames) * frameBytes();
    if (pa_stream_write(stream_, samples, bytes, nullptr, offset, absolute ? PA_SEEK_ABSOLUTE : PA_SEEK_RELATIVE)
        < 0) {
        error = mainLoop_.lastError();
        return false;
    }
    return true;
}

bool PulseStream::rename(const std::string& title, std::string& error)
{
    return sent(pa_stream_set_name(stream_, title.c_str(), nullptr, nullptr), error);
}

bool PulseStream::trigger(std::string& error)
{
    return sent(pa_stream_trigger(stream_, nullptr, nullptr), error);
}

bool PulseStream::cork(bool corked, std::string& error)
{
    cancelCorkTimer();
    if (corked_ == corked)
        return true;
    if (!sent(pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr), error))
        return false;
    corked_ = corked;
    return true;
}

bool PulseStream::corkAfter(std::chrono::microseconds delay, std::string& error)
{
    cancelCorkTimer();
    corkTimer_ = pa_context_rttime_new(mainLoop_.context(), pa_rtclock_now() + usec(delay), &PulseStream::onCorkTime,
                                       this);
    if (corkTimer_ == nullptr) {
        error = "cannot set a timer on the main loop";
        return false;
    }
    return true;
}

bool PulseStream::flush(std::string& error)
{
    return sent(pa_stream_flush(stream_, nullptr, nullptr), error);
}

std::optional<std::int64_t> PulseStream::writeIndex(std::string& error)
{
    StreamSuccess update{mainLoop_};
    if (!mainLoop_.await(pa_stream_update_timing_info(stream_, &onStreamSuccess, &update), error))
        return std::nullopt;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (!update.succeeded || timing == nullptr) {
        error = mainLoop_.lastError();
        return std::nullopt;
    }
    const std::int64_t index = timing->write_index_corrupt ? timing->read_index : timing->write_index;
    return index / static_cast<std::int64_t>(frameBytes());
}

std::optional<std::int64_t> PulseStream::readIndex(std::string& error)
{
    StreamSuccess update{mainLoop_};
    if (!mainLoop_.await(pa_stream_update_timing_info(stream_, &onStreamSuccess, &update), error))
        return std::nullopt;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (!update.succeeded || timing == nullptr || timing->read_index_corrupt) {
        error = mainLoop_.lastError();
        return std::nullopt;
    }
    return timing->read_index / static_cast<std::int64_t>(frameBytes());
}

std::optional<std::int64_t> PulseStream::heardIndex(std::string& error) const
{
    pa_usec_t heard = 0;
    if (pa_stream_get_time(stream_, &heard) < 0) {
        error = mainLoop_.lastError();
        return std::nullopt;
    }
    return framesIn(std::chrono::microseconds(heard));
}

bool PulseStream::advancing() const
{
    return !corked_ && pa_stream_is_suspended(stream_) == 0 && playing_;
}

bool PulseStream::sent(pa_operation* operation, std::string& error)
{
    if (operation == nullptr) {
        error = mainLoop_.lastError();
        return false;
    }
    pa_operation_unref(operation);
    return true;
}

void PulseStream::cancelCorkTimer()
{
    if (corkTimer_ == nullptr)
        return;
    mainLoop_.api()->time_free(corkTimer_);
    corkTimer_ = nullptr;
}

void PulseStream::onStateChange(pa_stream* stream, void* self)
{
    auto* owner = static_cast<PulseStream*>(self);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED)
        owner->mainLoop_.markLost("the stream failed: " + owner->mainLoop_.lastError());
    owner->mainLoop_.signal();
}

void PulseStream::onWriteRequest(pa_stream* /*stream*/, std::size_t /*bytes*/, void* self)
{
    static_cast<PulseStream*>(self)->wake_();
}

void PulseStream::onUnderflow(pa_stream* stream, void* self)
{
    auto* owner = static_cast<PulseStream*>(self);
    // The server may tell of running dry at the end of what an earlier
    // segment wrote after the next one has been written, flushed in behind
    // it: such an underflow lies before the write index, and says nothing of
    // what is queued now. Where the server does not say where it ran dry, it
    // is taken to be now.
    const std::int64_t at = pa_stream_get_underflow_index(stream);
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    if (at >= 0 && timing != nullptr && timing->write_index_corrupt == 0 && at < timing->write_index) {
        qCDebug(outputLog) << "an underflow at byte" << at << "is behind the write index" << timing->write_index;
        return;
    }
    owner->ranDry_ = true;
    owner->wake_();
}

void PulseStream::onSuspended(pa_stream* stream, void* self)
{
    qCDebug(outputLog) << "the stream's sink is" << (pa_stream_is_suspended(stream) > 0 ? "suspended" : "playing");
    static_cast<PulseStream*>(self)->wake_();
}

// Each timing update; the engine hears only of a change.
void PulseStream::onTimingUpdate(pa_stream* stream, void* self)
{
    auto* owner = static_cast<PulseStream*>(self);
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    const bool playing = timing != nullptr && timing->playing != 0;
    if (playing == owner->playing_)
        return;
    owner->playing_ = playing;
    qCDebug(outputLog) << "the server says the stream" << (playing ? "plays" : "does not play");
    owner->wake_();
}

void PulseStream::onCorkTime(pa_mainloop_api* api, pa_time_event* event, const timeval* /*when*/, void* self)
{
    auto* owner = static_cast<PulseStream*>(self);
    api->time_free(event);
    owner->corkTimer_ = nullptr;
    std::string error;
    if (!owner->cork(true, error))
        qCDebug(outputLog) << "cannot cork the stream after the fade:" << error.c_str();
}
