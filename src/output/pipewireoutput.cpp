// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pipewireoutput.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include "output/outputlog.h"

namespace {

// How long the daemon has to answer the connection, and a stream or a halt.
constexpr std::chrono::milliseconds connectBound{2000};
constexpr std::chrono::milliseconds answerBound{1000};
// The graph's cycle this stream asks for, at 48 kHz, the graph's own rate: a
// halt waits for the next cycle and then plays out the one it fades in, so
// the cycle bounds how soon a pause is silent; the graph runs at the
// shortest cycle any of its streams asks for. At 2.7 ms a pause is silent in
// 8 ms, not 14 as at 5.3 ms; the daemon's CPU while it plays goes from 1.1
// to 1.6 s a minute here.
constexpr int cycleFrames = 128;
constexpr int graphRate = 48000;

std::string runtimeSocket()
{
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    std::string name = remote != nullptr && *remote != '\0' ? remote : "pipewire-0";
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
    if (queue_.phase() == PullQueue::Playing)
        halt(HaltFade{});
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
    queue_.stop();
    beginSegmentIfHalted();
    return true;
}

bool PipeWireOutput::openStream(int rate, int channels, std::string& error)
{
    rate_ = rate;
    channels_ = channels;
    queue_.reset(channels, rate * queueAhead.count() / 1000);
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
    queue_.stop();
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
