#include "output/pulseoutput.h"

#include <algorithm>
#include <thread>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include "output/fade.h"

namespace {

// How far ahead the server holds the stream. A longer queue lets the server
// and the engine wake less often; halts do not wait on it. Measured on a 3
// minute file, server and player CPU in s/min: 0.5 s, 0.12-0.15 and
// 0.18-0.21; 1 s, 0.12 and 0.15-0.18; 2 s, 0.03-0.09 and 0.12.
constexpr std::chrono::milliseconds queueAhead{2000};
// What the server needs queued before it starts or restarts the stream.
constexpr std::chrono::milliseconds prebuffer{20};
// The sink mixes a little ahead of what is heard, and what it has mixed may
// already have gone on (to a monitor, say): fades are placed after it, up to
// this far ahead.
constexpr std::chrono::milliseconds mixedAheadLimit{20};
constexpr std::chrono::milliseconds mixedAheadMargin{2};
// At a halt: the fade, and silence to cover until the cork lands.
constexpr std::chrono::milliseconds fadeLength{5};
constexpr std::chrono::milliseconds fadeSilence{20};
// Samples kept for the fade: more than the server holds queued.
constexpr std::chrono::milliseconds historyLength{queueAhead + std::chrono::milliseconds(500)};

int framesIn(std::chrono::milliseconds span, int rate)
{
    return static_cast<int>(span.count() * rate / 1000);
}

std::size_t samplesIn(std::chrono::milliseconds span, int rate, int channels)
{
    return static_cast<std::size_t>(framesIn(span, rate)) * static_cast<std::size_t>(channels);
}

} // namespace

class PulseOutput::Lock {
public:
    explicit Lock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) { pa_threaded_mainloop_lock(mainloop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock() { pa_threaded_mainloop_unlock(mainloop_); }

private:
    pa_threaded_mainloop* mainloop_;
};

PulseOutput::PulseOutput() = default;

PulseOutput::~PulseOutput()
{
    close();
}

bool PulseOutput::connect(std::string& error)
{
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr || pa_threaded_mainloop_start(mainloop_) < 0) {
        error = "cannot start the sound server's client";
        return false;
    }
    const Lock lock(mainloop_);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Merlow");
    if (context_ == nullptr) {
        error = "cannot start the sound server's client";
        return false;
    }
    pa_context_set_state_callback(context_, &PulseOutput::onContextState, this);
    // Never start a server of its own: where none runs, ALSA plays.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(context_));
        return false;
    }
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
}

bool PulseOutput::openStream(int rate, int channels, std::string& error)
{
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(rate), static_cast<std::uint8_t>(channels)};
    stream_ = pa_stream_new(context_, "Merlow", &sampleFormat, nullptr);
    if (stream_ == nullptr) {
        error = pa_strerror(pa_context_errno(context_));
        return false;
    }
    rate_ = rate;
    channels_ = channels;
    const auto bytes = [&](std::chrono::milliseconds span) {
        return static_cast<std::uint32_t>(samplesIn(span, rate, channels) * sizeof(std::int16_t));
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
    pa_stream_set_state_callback(stream_, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseOutput::onWriteRequest, this);
    pa_stream_set_underflow_callback(stream_, &PulseOutput::onUnderflow, this);
    if (pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(context_));
        return false;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    corked_ = true;
    history_.assign(samplesIn(historyLength, rate, channels), 0);
    fade_.assign(samplesIn(fadeLength + fadeSilence, rate, channels), 0);
    silence_.assign(samplesIn(mixedAheadLimit + mixedAheadMargin, rate, channels), 0);
    return true;
}

void PulseOutput::warmUp()
{
    std::string error;
    if (mainloop_ == nullptr && !connect(error))
        close();
}

bool PulseOutput::prepare(int rate, int channels, std::string& error)
{
    if (lost_.load())
        close();
    if (mainloop_ == nullptr && !connect(error)) {
        close();
        return false;
    }
    bool opened = true;
    {
        const Lock lock(mainloop_);
        if (stream_ != nullptr && (rate != rate_ || channels != channels_))
            closeStream();
        if (stream_ == nullptr)
            opened = openStream(rate, channels, error);
        segmentBegun_ = false;
        started_ = false;
        dataEnded_ = false;
        written_ = 0;
        haltedAt_.reset();
    }
    if (!opened)
        close();
    return opened;
}

void PulseOutput::letFadePlayOut() const
{
    if (haltedAt_ && !lost_.load())
        std::this_thread::sleep_until(fadeEnds_);
}

void PulseOutput::closeStream()
{
    if (stream_ == nullptr)
        return;
    letFadePlayOut();
    cancelCorkTimer();
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    segmentBegun_ = false;
    started_ = false;
}

void PulseOutput::close()
{
    if (mainloop_ == nullptr)
        return;
    {
        const Lock lock(mainloop_);
        closeStream();
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    haltedAt_.reset();
    lost_.store(false);
}

void PulseOutput::beginSegment()
{
    letFadePlayOut();
    cancelCorkTimer();
    cork(true);
    pa_operation_unref(pa_stream_flush(stream_, nullptr, nullptr));
    await(pa_stream_update_timing_info(stream_, &PulseOutput::onOperationDone, this));
    // Flushed while corked, the queue is empty: the next byte written is
    // the next one heard.
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    const std::int64_t frameBytes = channels_ * static_cast<std::int64_t>(sizeof(std::int16_t));
    std::int64_t origin = 0;
    if (timing != nullptr)
        origin = timing->write_index_corrupt ? timing->read_index : timing->write_index;
    // Started, the stream is mixed in at once by rewinding the sink over what
    // it had mixed ahead; silence covers that, so the fade-in is heard.
    await(pa_context_get_sink_info_by_index(context_, pa_stream_get_device_index(stream_), &PulseOutput::onSinkInfo,
                                            this));
    const int preroll = mixedAhead_;
    pa_stream_write(stream_, silence_.data(), static_cast<std::size_t>(preroll * frameBytes), nullptr, 0,
                    PA_SEEK_RELATIVE);
    segmentOrigin_ = origin / frameBytes + preroll;
    written_ = 0;
    ranDry_ = false;
    haltedAt_.reset();
    segmentBegun_ = true;
}

std::size_t PulseOutput::writable()
{
    if (mainloop_ == nullptr)
        return 0;
    const Lock lock(mainloop_);
    if (stream_ == nullptr || lost_.load())
        return 0;
    if (!segmentBegun_)
        beginSegment();
    const std::size_t bytes = pa_stream_writable_size(stream_);
    if (bytes == static_cast<std::size_t>(-1))
        return 0;
    return bytes / (static_cast<std::size_t>(channels_) * sizeof(std::int16_t));
}

void PulseOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (mainloop_ == nullptr || frames == 0)
        return;
    const Lock lock(mainloop_);
    if (stream_ == nullptr || lost_.load())
        return;
    if (!segmentBegun_)
        beginSegment();
    const std::size_t count = frames * static_cast<std::size_t>(channels_);
    pa_stream_write(stream_, samples, count * sizeof(std::int16_t), nullptr, 0, PA_SEEK_RELATIVE);
    const std::size_t from = static_cast<std::size_t>(written_) * static_cast<std::size_t>(channels_);
    for (std::size_t i = 0; i < count; ++i)
        history_[(from + i) % history_.size()] = samples[i];
    written_ += static_cast<std::int64_t>(frames);
    ranDry_ = false;
}

void PulseOutput::endOfData()
{
    if (mainloop_ == nullptr)
        return;
    const Lock lock(mainloop_);
    dataEnded_ = true;
    if (stream_ != nullptr && started_)
        pa_operation_unref(pa_stream_trigger(stream_, nullptr, nullptr));
}

void PulseOutput::start()
{
    if (mainloop_ == nullptr)
        return;
    const Lock lock(mainloop_);
    if (stream_ == nullptr || lost_.load())
        return;
    if (!segmentBegun_)
        beginSegment();
    cork(false);
    started_ = true;
    if (dataEnded_)
        pa_operation_unref(pa_stream_trigger(stream_, nullptr, nullptr));
}

std::int64_t PulseOutput::halt()
{
    if (mainloop_ == nullptr)
        return haltedAt_.value_or(0);
    const Lock lock(mainloop_);
    if (stream_ == nullptr || !segmentBegun_)
        return haltedAt_.value_or(0);
    const std::int64_t heard = heardLocked();
    // Not started, nothing was heard; started, the fade follows what the sink
    // may have mixed.
    const std::int64_t from = started_ ? std::min<std::int64_t>(heard + mixedAhead_, written_) : heard;
    const std::int64_t kept = static_cast<std::int64_t>(history_.size()) / channels_;
    std::int64_t fading = std::min<std::int64_t>(framesIn(fadeLength, rate_), written_ - from);
    if (!started_ || lost_.load() || from < written_ - kept)
        fading = 0;

    if (fading > 0) {
        // Rewrite what is about to be heard as a fade to silence; the server
        // rewinds its sink to play it, and the cork follows once it has.
        const auto channels = static_cast<std::size_t>(channels_);
        const std::size_t first = static_cast<std::size_t>(from) * channels;
        const std::size_t count = static_cast<std::size_t>(fading) * channels;
        for (std::size_t i = 0; i < count; ++i)
            fade_[i] = history_[(first + i) % history_.size()];
        std::fill(fade_.begin() + static_cast<std::ptrdiff_t>(count), fade_.end(), std::int16_t{0});
        fadeOut(fade_.data(), static_cast<int>(fading), channels_);
        const std::int64_t frameBytes = channels_ * static_cast<std::int64_t>(sizeof(std::int16_t));
        const std::size_t fadeBytes = count * sizeof(std::int16_t)
                                      + static_cast<std::size_t>(framesIn(fadeSilence, rate_)) * channels
                                            * sizeof(std::int16_t);
        pa_stream_write(stream_, fade_.data(), fadeBytes, nullptr, (segmentOrigin_ + from) * frameBytes,
                        PA_SEEK_ABSOLUTE);
        const auto untilFaded = std::chrono::microseconds((from - heard + fading) * 1'000'000 / rate_)
                                + std::chrono::milliseconds(2);
        fadeEnds_ = std::chrono::steady_clock::now() + untilFaded;
        cancelCorkTimer();
        corkTimer_ = pa_context_rttime_new(context_, pa_rtclock_now() + static_cast<pa_usec_t>(untilFaded.count()),
                                           &PulseOutput::onCorkTime, this);
    } else {
        cork(true);
    }
    started_ = false;
    segmentBegun_ = false;
    dataEnded_ = false;
    haltedAt_ = from;
    return from;
}

std::int64_t PulseOutput::heardLocked()
{
    if (!segmentBegun_)
        return haltedAt_.value_or(0);
    // Once the server has run dry at the end, the time stays short of the
    // end by the sink's latency.
    if (dataEnded_ && ranDry_)
        return written_;
    pa_usec_t usec = 0;
    if (pa_stream_get_time(stream_, &usec) < 0)
        return 0;
    const auto frames = static_cast<std::int64_t>(usec * static_cast<pa_usec_t>(rate_) / 1'000'000);
    return std::clamp<std::int64_t>(frames - segmentOrigin_, 0, written_);
}

std::int64_t PulseOutput::heardFrames()
{
    if (mainloop_ == nullptr)
        return haltedAt_.value_or(0);
    const Lock lock(mainloop_);
    if (stream_ == nullptr || lost_.load())
        return haltedAt_.value_or(0);
    return heardLocked();
}

std::chrono::milliseconds PulseOutput::refillPeriod() const
{
    return queueAhead / 4;
}

void PulseOutput::cork(bool corked)
{
    if (corked_ == corked)
        return;
    pa_operation_unref(pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr));
    corked_ = corked;
}

void PulseOutput::cancelCorkTimer()
{
    if (corkTimer_ == nullptr)
        return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    api->time_free(corkTimer_);
    corkTimer_ = nullptr;
}

void PulseOutput::await(pa_operation* operation)
{
    if (operation == nullptr)
        return;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !lost_.load())
        pa_threaded_mainloop_wait(mainloop_);
    pa_operation_unref(operation);
}

void PulseOutput::onContextState(pa_context* context, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        output->lost_.store(true);
        output->wakeEngine();
    }
    pa_threaded_mainloop_signal(output->mainloop_, 0);
}

void PulseOutput::onStreamState(pa_stream* stream, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED) {
        output->lost_.store(true);
        output->wakeEngine();
    }
    pa_threaded_mainloop_signal(output->mainloop_, 0);
}

void PulseOutput::onWriteRequest(pa_stream* /*stream*/, std::size_t /*bytes*/, void* self)
{
    static_cast<PulseOutput*>(self)->wakeEngine();
}

void PulseOutput::onUnderflow(pa_stream* /*stream*/, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    output->ranDry_ = true;
    output->wakeEngine();
}

void PulseOutput::onSinkInfo(pa_context* /*context*/, const pa_sink_info* info, int last, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    // A sink mixes up to its configured latency ahead of what is heard.
    if (last == 0 && info != nullptr) {
        const auto ahead = std::min<std::chrono::microseconds>(std::chrono::microseconds(info->configured_latency),
                                                               mixedAheadLimit)
                           + mixedAheadMargin;
        output->mixedAhead_ = static_cast<int>(ahead.count() * output->rate_ / 1'000'000);
    }
    pa_threaded_mainloop_signal(output->mainloop_, 0);
}

void PulseOutput::onOperationDone(pa_stream* /*stream*/, int /*success*/, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->mainloop_, 0);
}

void PulseOutput::onCorkTime(pa_mainloop_api* api, pa_time_event* event, const timeval* /*when*/, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    api->time_free(event);
    output->corkTimer_ = nullptr;
    output->cork(true);
}
