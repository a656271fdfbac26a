// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <pulse/sample.h>

class PulseMainLoop;
struct pa_stream;
struct pa_operation;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

// A playback stream of 16-bit samples on the sound server, and what the
// server says of its timing. Frames are counted on the server's byte index,
// the stream's one sample format converting bytes, frames and time.
//
// It is created, used and destroyed with the main loop's lock held, by the
// engine's thread; its callbacks run on the main loop's thread.
class PulseStream {
public:
    // How far ahead the server holds the stream. A longer queue lets the
    // server and the engine wake less often; halts do not wait on it.
    // Measured on a 3 minute file, server and player CPU in s/min: 0.5 s,
    // 0.12-0.15 and 0.18-0.21; 1 s, 0.12 and 0.15-0.18; 2 s, 0.03-0.09 and
    // 0.12.
    static constexpr std::chrono::milliseconds queueAhead{2000};

    // `wake` is called from the main loop's thread when the server wants more
    // or has run dry.
    PulseStream(PulseMainLoop& mainLoop, std::function<void()> wake);
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;
    ~PulseStream();

    // Connects a stream of this format, corked, and waits until it is ready,
    // within the main loop's bound for an answer. The server sees it as
    // music, under `title`.
    bool connect(int rate, int channels, const std::string& title, std::string& error);
    // Names it anew, without waiting for the server's answer.
    bool rename(const std::string& title, std::string& error);

    const pa_sample_spec& format() const { return format_; }
    std::int64_t framesIn(std::chrono::microseconds span) const;
    std::chrono::microseconds durationOf(std::int64_t frames) const;

    // Frames the server takes now without waiting.
    std::size_t writableFrames() const;
    // Queues after what was written before.
    bool write(const std::int16_t* samples, std::int64_t frames, std::string& error);
    // Overwrites the queue from the server's frame `at` on.
    bool writeAt(const std::int16_t* samples, std::int64_t frames, std::int64_t at, std::string& error);
    // The server has run out of what was written since the last write().
    bool ranDry() const { return ranDry_; }

    // Plays what is queued, however short.
    bool trigger(std::string& error);
    // Corking cancels a cork that was set to come later.
    bool cork(bool corked, std::string& error);
    bool corkAfter(std::chrono::microseconds delay, std::string& error);
    // Drops what is queued.
    bool flush(std::string& error);

    // Where the next frame written goes, from timing asked of the server now.
    std::optional<std::int64_t> writeIndex(std::string& error);
    // How far the server has taken the stream's frames, asked of it now.
    std::optional<std::int64_t> readIndex(std::string& error);
    // Whether what the server has read and not yet played can be rewritten:
    // PulseAudio rewinds its sinks for it, while PipeWire's PulseAudio
    // service plays what it has read, a graph cycle at a time.
    bool takesBackWhatItRead() const { return takesBackWhatItRead_; }
    // The frame being heard, interpolated from the server's last timing.
    std::optional<std::int64_t> heardIndex(std::string& error) const;
    // What is heard moves on now: the stream is started, its sink is not
    // suspended, and the server last said it plays.
    bool advancing() const;
    // How far ahead of what is heard the stream's sink is set to mix.
    std::optional<std::chrono::microseconds> sinkLatency(std::string& error);

private:
    std::size_t frameBytes() const { return pa_frame_size(&format_); }
    bool writeBytes(const std::int16_t* samples, std::int64_t frames, std::int64_t offset, bool absolute,
                    std::string& error);
    // An operation whose end nobody waits for: sent, or not.
    bool sent(pa_operation* operation, std::string& error);
    void cancelCorkTimer();

    static void onStateChange(pa_stream* stream, void* self);
    static void onWriteRequest(pa_stream* stream, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    static void onSuspended(pa_stream* stream, void* self);
    static void onTimingUpdate(pa_stream* stream, void* self);
    static void onCorkTime(pa_mainloop_api* api, pa_time_event* event, const timeval* when, void* self);

    PulseMainLoop& mainLoop_;
    const std::function<void()> wake_;
    // Set by connect() alone.
    pa_sample_spec format_{};
    pa_stream* stream_ = nullptr;
    bool takesBackWhatItRead_ = true;

    // Under the main loop's lock, written by the engine's thread and by the
    // callbacks: onUnderflow sets ranDry_, onTimingUpdate playing_,
    // onCorkTime corks and clears corkTimer_.
    bool ranDry_ = false;
    bool playing_ = false;
    bool corked_ = true;
    pa_time_event* corkTimer_ = nullptr;
};
