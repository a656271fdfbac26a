// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pipewireoutput.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <time.h>

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include "output/fade.h"
#include "output/outputlog.h"

namespace {

// How long the daemon has to answer the connection, and a stream or a halt.
constexpr std::chrono::milliseconds connectBound{2000};
constexpr std::chrono::milliseconds answerBound{1000};
// A halt is taken up by the graph's next cycle; past this the graph is taken
// not to run the stream, and nothing more of it is heard.
constexpr std::chrono::milliseconds haltBound{250};
// The graph has run the stream lately: what is heard moves on.
constexpr std::chrono::milliseconds cycleGap{100};
// The queue the engine keeps ahead of the graph.
constexpr std::chrono::milliseconds queueAhead{2000};
// The graph's cycle this stream asks for, at 48 kHz, the graph's own rate: a
// halt waits for the next cycle and then plays out the one it fades in, so
// the cycle bounds how soon a pause is silent; the graph runs at the
// shortest cycle any of its streams asks for.
constexpr int cycleFrames = 256;
constexpr int graphRate = 48000;

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::string runtimeSocket()
{
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    const std::string name = remote != nullptr && *remote != '\0' ? remote : "pipewire-0";
    if (name.starts_with('/'))
        return name;
    for (const char* variable : {"PIPEWIRE_RUNTIME_DIR", "XDG_RUNTIME_DIR"}) {
        const char* folder = std::getenv(variable);
        if (folder != nullptr && *folder != '\0')
            return std::string(folder) + "/" + name;
    }
    return {};
}

} // namespace

// The callbacks libpipewire calls, on the thread loop's thread (the core's
// and the stream's events) and on the graph's (process).
struct PipeWireEvents {
    static void coreDone(void* self, std::uint32_t id, int seq)
    {
        auto* output = static_cast<PipeWireOutput*>(self);
        if (id == PW_ID_CORE && seq == output->syncSeq_)
            output->synced_.store(true);
        pw_thread_loop_signal(output->loop_, false);
    }

    static void coreError(void* self, std::uint32_t id, int /*seq*/, int res, const char* message)
    {
        auto* output = static_cast<PipeWireOutput*>(self);
        qCDebug(outputLog) << "PipeWire:" << (message != nullptr ? message : "") << "-" << std::strerror(-res);
        if (id == PW_ID_CORE && res == -EPIPE) {
            output->lost_.store(true);
            output->wakeEngine();
        }
        pw_thread_loop_signal(output->loop_, false);
    }

    static void streamState(void* self, pw_stream_state /*old*/, pw_stream_state state, const char* error)
    {
        auto* output = static_cast<PipeWireOutput*>(self);
        qCDebug(outputLog) << "PipeWire's stream is" << pw_stream_state_as_string(state) << (error != nullptr ? error : "");
        output->streamState_.store(state);
        if (state == PW_STREAM_STATE_ERROR)
            output->lost_.store(true);
        output->wakeEngine();
        pw_thread_loop_signal(output->loop_, false);
    }

    static void process(void* self) { static_cast<PipeWireOutput*>(self)->process(); }
};

namespace {

const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = &PipeWireEvents::coreDone;
    events.error = &PipeWireEvents::coreError;
    return events;
}();

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = &PipeWireEvents::streamState;
    events.process = &PipeWireEvents::process;
    return events;
}();

} // namespace

PipeWireOutput::PipeWireOutput(ApplicationIdentity identity)
    : identity_(std::move(identity)), title_(identity_.name), coreListener_(std::make_unique<spa_hook>()),
      streamListener_(std::make_unique<spa_hook>())
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
}

PipeWireOutput::~PipeWireOutput()
{
    close();
}

bool PipeWireOutput::applies() const
{
    if (std::getenv("PULSE_SERVER") != nullptr)
        return false;
    const std::string socket = runtimeSocket();
    std::error_code error;
    return !socket.empty() && std::filesystem::is_socket(socket, error);
}

void PipeWireOutput::abandonWaits()
{
    abandoned_.store(true);
    const std::lock_guard lock(loopMutex_);
    if (loop_ == nullptr)
        return;
    pw_thread_loop_lock(loop_);
    pw_thread_loop_signal(loop_, false);
    pw_thread_loop_unlock(loop_);
}

bool PipeWireOutput::startConnecting(std::string& error)
{
    if (loop_ != nullptr)
        return true;
    lost_.store(false);
    synced_.store(false);
    pw_thread_loop* loop = pw_thread_loop_new("merlow-pipewire", nullptr);
    if (loop == nullptr) {
        error = std::string("cannot make PipeWire's thread loop: ") + std::strerror(errno);
        return false;
    }
    {
        const std::lock_guard lock(loopMutex_);
        loop_ = loop;
    }
    // PipeWire's configuration for clients whose graph thread runs in real
    // time where the system allows it, as its own players' do: a cycle is
    // then not missed on a busy machine.
    pw_properties* properties = pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", PW_KEY_APP_NAME,
                                                  identity_.name.c_str(), PW_KEY_APP_ID, identity_.desktopId.c_str(),
                                                  PW_KEY_APP_ICON_NAME, identity_.desktopId.c_str(), nullptr);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), properties, 0);
    if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
        error = std::string("cannot start PipeWire's thread loop: ") + std::strerror(errno);
        close();
        return false;
    }
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (core_ != nullptr) {
        pw_core_add_listener(core_, coreListener_.get(), &coreEvents, this);
        syncSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
    } else {
        error = std::string("cannot connect to PipeWire: ") + std::strerror(errno);
    }
    pw_thread_loop_unlock(loop_);
    if (core_ == nullptr) {
        close();
        return false;
    }
    return true;
}

void PipeWireOutput::warmUp()
{
    std::string error;
    if (!startConnecting(error))
        qCDebug(outputLog) << "cannot connect to PipeWire ahead:" << error.c_str();
}

bool PipeWireOutput::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound, std::string& error)
{
    timespec deadline{};
    pw_thread_loop_get_time(loop_, &deadline, std::chrono::nanoseconds(bound).count());
    while (!done()) {
        if (abandoned_.load()) {
            error = "the engine is stopping";
            return false;
        }
        if (lost_.load()) {
            error = "the connection to PipeWire was lost";
            return false;
        }
        if (pw_thread_loop_timed_wait_full(loop_, &deadline) == -ETIMEDOUT && !done()) {
            error = "PipeWire does not answer";
            lost_.store(true);
            return false;
        }
    }
    return true;
}

bool PipeWireOutput::connect(std::string& error)
{
    if (!startConnecting(error))
        return false;
    pw_thread_loop_lock(loop_);
    const bool connected = waitUntil([this] { return synced_.load(); }, connectBound, error);
    pw_thread_loop_unlock(loop_);
    if (!connected)
        close();
    return connected;
}

bool PipeWireOutput::prepare(int rate, int channels, std::string& error)
{
    if (abandoned_.load()) {
        error = "the engine is stopping";
        return false;
    }
    if (lost())
        close();
    if (!connect(error))
        return false;
    if (phase_.load() == Playing)
        halt();
    pw_thread_loop_lock(loop_);
    if (stream_ != nullptr && (rate != rate_ || channels != channels_))
        destroyStream();
    const bool opened = stream_ != nullptr || openStream(rate, channels, error);
    pw_thread_loop_unlock(loop_);
    if (!opened) {
        close();
        return false;
    }
    setActive(false);
    phase_.store(Halted);
    beginSegmentIfHalted();
    return true;
}

bool PipeWireOutput::openStream(int rate, int channels, std::string& error)
{
    rate_ = rate;
    channels_ = channels;
    fadeFrames_ = std::max<std::int64_t>(1, rate * fadeOutLength.count() / 1000);
    queueFrames_ = rate * queueAhead.count() / 1000;
    queue_.assign(static_cast<std::size_t>(queueFrames_ * channels), 0);
    streamState_.store(PW_STREAM_STATE_UNCONNECTED);

    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_MEDIA_NAME, title_.c_str(), PW_KEY_APP_NAME, identity_.name.c_str(), PW_KEY_APP_ID,
        identity_.desktopId.c_str(), PW_KEY_APP_ICON_NAME, identity_.desktopId.c_str(), nullptr);
    pw_properties_setf(properties, PW_KEY_NODE_LATENCY, "%d/%d", cycleFrames, graphRate);
    stream_ = pw_stream_new(core_, identity_.name.c_str(), properties);
    if (stream_ == nullptr) {
        error = std::string("cannot make a PipeWire stream: ") + std::strerror(errno);
        return false;
    }
    pw_stream_add_listener(stream_, streamListener_.get(), &streamEvents, this);

    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16;
    format.rate = static_cast<std::uint32_t>(rate);
    format.channels = static_cast<std::uint32_t>(channels);
    if (channels == 1) {
        format.position[0] = SPA_AUDIO_CHANNEL_MONO;
    } else if (channels == 2) {
        format.position[0] = SPA_AUDIO_CHANNEL_FL;
        format.position[1] = SPA_AUDIO_CHANNEL_FR;
    } else {
        format.flags = SPA_AUDIO_FLAG_UNPOSITIONED;
    }
    std::uint8_t podBuffer[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBuffer, sizeof podBuffer);
    const spa_pod* parameters[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                                                    | PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_INACTIVE);
    if (pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, parameters, 1) < 0) {
        error = std::string("cannot connect a PipeWire stream: ") + std::strerror(errno);
        destroyStream();
        return false;
    }
    const auto settled = [this] {
        const int state = streamState_.load();
        return state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING || state == PW_STREAM_STATE_ERROR;
    };
    if (!waitUntil(settled, answerBound, error))
        return false;
    if (streamState_.load() == PW_STREAM_STATE_ERROR) {
        error = "PipeWire refused the stream";
        return false;
    }
    qCDebug(outputLog) << "PipeWire stream created:" << rate << "Hz," << channels << "channels";
    return true;
}

void PipeWireOutput::destroyStream()
{
    if (stream_ == nullptr)
        return;
    spa_hook_remove(streamListener_.get());
    pw_stream_destroy(stream_);
    stream_ = nullptr;
}

void PipeWireOutput::close()
{
    if (loop_ == nullptr)
        return;
    pw_thread_loop_lock(loop_);
    destroyStream();
    if (core_ != nullptr) {
        spa_hook_remove(coreListener_.get());
        pw_core_disconnect(core_);
        core_ = nullptr;
    }
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (context_ != nullptr)
        pw_context_destroy(context_);
    context_ = nullptr;
    pw_thread_loop* loop = nullptr;
    {
        const std::lock_guard lock(loopMutex_);
        std::swap(loop, loop_);
    }
    pw_thread_loop_destroy(loop);
    phase_.store(Idle);
}

void PipeWireOutput::nameStream(const std::string& title)
{
    title_ = title;
    if (loop_ == nullptr)
        return;
    pw_thread_loop_lock(loop_);
    if (stream_ != nullptr) {
        const spa_dict_item item{PW_KEY_MEDIA_NAME, title_.c_str()};
        const spa_dict dict{0, 1, &item};
        if (pw_stream_update_properties(stream_, &dict) < 0)
            qCDebug(outputLog) << "cannot rename PipeWire's stream";
    }
    pw_thread_loop_unlock(loop_);
}

void PipeWireOutput::setActive(bool active)
{
    pw_thread_loop_lock(loop_);
    if (stream_ != nullptr && pw_stream_set_active(stream_, active) < 0)
        qCDebug(outputLog) << "cannot" << (active ? "start" : "stop") << "PipeWire's stream";
    pw_thread_loop_unlock(loop_);
}

void PipeWireOutput::beginSegmentIfHalted()
{
    if (phase_.load() != Halted)
        return;
    // The callback takes nothing from the queue while halted or idle.
    read_.store(0);
    written_.store(0, std::memory_order_release);
    endOfData_.store(false);
    ranDry_.store(false);
    lastHeard_ = 0;
    timingSequence_.fetch_add(1, std::memory_order_release);
    anchorFrame_.store(0);
    anchorNs_.store(0);
    timingSequence_.fetch_add(1, std::memory_order_release);
    phase_.store(Idle, std::memory_order_release);
}

std::size_t PipeWireOutput::writable()
{
    if (stream_ == nullptr || lost())
        return 0;
    beginSegmentIfHalted();
    const std::int64_t queued = written_.load() - read_.load(std::memory_order_acquire);
    return static_cast<std::size_t>(std::max<std::int64_t>(queueFrames_ - queued, 0));
}

void PipeWireOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (stream_ == nullptr || lost() || frames == 0)
        return;
    beginSegmentIfHalted();
    const std::int64_t at = written_.load();
    const auto count = std::min<std::int64_t>(static_cast<std::int64_t>(frames), static_cast<std::int64_t>(writable()));
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t slot = (at + done) % queueFrames_;
        const std::int64_t run = std::min(count - done, queueFrames_ - slot);
        std::copy_n(samples + done * channels_, run * channels_, queue_.data() + slot * channels_);
        done += run;
    }
    written_.store(at + count, std::memory_order_release);
}

void PipeWireOutput::start()
{
    if (stream_ == nullptr || lost())
        return;
    beginSegmentIfHalted();
    lastCycleNs_.store(monotonicNs());
    phase_.store(Playing, std::memory_order_release);
    setActive(true);
}

std::int64_t PipeWireOutput::halt()
{
    int phase = phase_.load();
    if (stream_ == nullptr || phase == Halted)
        return haltedAt_.load();
    if (phase == Idle) {
        // Never started: nothing was heard.
        haltedAt_.store(0);
        phase_.store(Halted);
        return 0;
    }
    static_cast<void>(haltHeard_.try_acquire());
    phase_.store(HaltAsked, std::memory_order_release);
    const bool running = streamState_.load() == PW_STREAM_STATE_STREAMING && !lost();
    const bool signalled = running && haltHeard_.try_acquire_for(haltBound);
    if (!signalled) {
        // The graph does not run the stream: nothing more of it is heard.
        qCDebug(outputLog) << "PipeWire's graph" << (running ? "did not take the halt in time" : "does not run the stream");
        phase = HaltAsked;
        if (phase_.compare_exchange_strong(phase, Halted))
            haltedAt_.store(std::min(heardNow(), read_.load()));
    }
    setActive(false);
    return haltedAt_.load();
}

void PipeWireOutput::process()
{
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr)
        return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data == nullptr) {
        pw_stream_queue_buffer(stream_, buffer);
        return;
    }
    const std::int64_t stride = static_cast<std::int64_t>(channels_) * 2;
    std::int64_t frames = data.maxsize / stride;
    if (buffer->requested != 0)
        frames = std::min<std::int64_t>(frames, static_cast<std::int64_t>(buffer->requested));
    auto* out = static_cast<std::int16_t*>(data.data);

    const int phase = phase_.load(std::memory_order_acquire);
    const std::int64_t read = read_.load();
    if (phase != HaltAsked) {
        fadeFrom_ = -1;
        fadeEnded_ = false;
    }
    std::int64_t taken = 0;
    if (phase == HaltAsked && fadeEnded_) {
        // A buffer is played the cycle after it is given: the one that ends
        // the fade plays now, and the halt is done.
        int asked = HaltAsked;
        if (phase_.compare_exchange_strong(asked, Halted)) {
            haltedAt_.store(read);
            haltHeard_.release();
        }
    } else if (phase == Playing || phase == HaltAsked) {
        const std::int64_t available = written_.load(std::memory_order_acquire) - read;
        if (phase == HaltAsked && fadeFrom_ < 0)
            fadeFrom_ = read;
        const std::int64_t fadeLeft = phase == HaltAsked ? fadeFrom_ + fadeFrames_ - read : frames;
        taken = std::min({frames, fadeLeft, available});
        for (std::int64_t done = 0; done < taken;) {
            const std::int64_t slot = (read + done) % queueFrames_;
            const std::int64_t run = std::min(taken - done, queueFrames_ - slot);
            std::copy_n(queue_.data() + slot * channels_, run * channels_, out + done * channels_);
            done += run;
        }
        read_.store(read + taken, std::memory_order_release);
        if (phase == HaltAsked) {
            // The fade may span cycles shorter than itself.
            for (std::int64_t i = 0; i < taken; ++i) {
                const std::int64_t gain = fadeFrom_ + fadeFrames_ - (read + i);
                for (int c = 0; c < channels_; ++c) {
                    std::int16_t& sample = out[i * channels_ + c];
                    sample = static_cast<std::int16_t>(sample * gain / (fadeFrames_ + 1));
                }
            }
            fadeEnded_ = taken == fadeLeft || taken == available;
        } else if (taken < frames && endOfData_.load(std::memory_order_acquire)) {
            ranDry_.store(true);
        }
    }
    std::fill(out + taken * channels_, out + frames * channels_, std::int16_t{0});
    data.chunk->offset = 0;
    data.chunk->stride = static_cast<std::int32_t>(stride);
    data.chunk->size = static_cast<std::uint32_t>(frames * stride);

    // This buffer's first frame is heard after the graph's delay.
    pw_time time{};
    if (phase == Playing && pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom != 0) {
        const std::int64_t delayFrames = time.delay * rate_ * time.rate.num / time.rate.denom
                                         + static_cast<std::int64_t>(time.buffered)
                                         + static_cast<std::int64_t>(time.queued) / stride;
        timingSequence_.fetch_add(1, std::memory_order_acq_rel);
        anchorFrame_.store(read - delayFrames, std::memory_order_relaxed);
        anchorNs_.store(time.now, std::memory_order_relaxed);
        timingSequence_.fetch_add(1, std::memory_order_release);
    }
    lastCycleNs_.store(monotonicNs(), std::memory_order_relaxed);
    pw_stream_queue_buffer(stream_, buffer);
}

std::int64_t PipeWireOutput::heardNow() const
{
    std::int64_t frame = 0;
    std::int64_t at = 0;
    for (;;) {
        const std::uint64_t before = timingSequence_.load(std::memory_order_acquire);
        frame = anchorFrame_.load(std::memory_order_relaxed);
        at = anchorNs_.load(std::memory_order_relaxed);
        if ((before & 1U) == 0 && timingSequence_.load(std::memory_order_acquire) == before)
            break;
    }
    if (at == 0)
        return 0;
    const std::int64_t since = std::max<std::int64_t>(monotonicNs() - at, 0);
    return std::clamp<std::int64_t>(frame + since * rate_ / 1'000'000'000, 0, read_.load(std::memory_order_acquire));
}

std::int64_t PipeWireOutput::heardFrames()
{
    const int phase = phase_.load();
    if (phase == Halted)
        return haltedAt_.load();
    if (phase == Idle || stream_ == nullptr)
        return 0;
    if (ranDry_.load())
        lastHeard_ = written_.load();
    else
        lastHeard_ = std::max(lastHeard_, heardNow());
    return lastHeard_;
}

bool PipeWireOutput::heardAdvances()
{
    if (stream_ == nullptr || lost() || phase_.load() != Playing || ranDry_.load())
        return false;
    const auto since = std::chrono::nanoseconds(monotonicNs() - lastCycleNs_.load());
    return streamState_.load() == PW_STREAM_STATE_STREAMING && since < cycleGap;
}

std::chrono::milliseconds PipeWireOutput::refillPeriod() const
{
    return queueAhead / 4;
}
