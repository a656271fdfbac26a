#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "output/audiooutput.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_operation;
struct pa_mainloop_api;
struct pa_sink_info;
struct timeval;

// A stream on the sound server (PulseAudio, or PipeWire through its
// PulseAudio service), through libpulse's threaded main loop.
//
// The server holds two seconds ahead, so it works in large blocks. Halting
// fades out by rewriting the few milliseconds about to be heard in the
// server's queue, then corks the stream once the fade has played: the server
// rewinds its sink, so nothing queued behind is heard. The next segment
// flushes the corked stream and starts where the server's read index stands.
//
// Threads: the engine's thread makes every call and takes the main loop's
// lock for each; the main loop's thread runs the callbacks, which only
// signal, wake the engine or cork.
class PulseOutput final : public AudioOutput {
public:
    PulseOutput();
    ~PulseOutput() override;

    // Connects to the server, which costs it nothing until a stream plays.
    void warmUp() override;
    bool prepare(int rate, int channels, std::string& error) override;
    bool isOpen() const override { return stream_ != nullptr; }
    void close() override;
    bool lost() const override { return lost_.load(); }

    std::size_t writable() override;
    void write(const std::int16_t* samples, std::size_t frames) override;
    void endOfData() override;
    void start() override;
    std::int64_t halt() override;
    std::int64_t heardFrames() override;
    std::chrono::milliseconds refillPeriod() const override;

private:
    class Lock;

    bool connect(std::string& error);
    bool openStream(int rate, int channels, std::string& error);
    void closeStream();
    // Flushes what an earlier segment left and anchors this one at the
    // server's read index.
    void beginSegment();
    void cork(bool corked);
    void cancelCorkTimer();
    // A halt's fade is heard before anything replaces it.
    void letFadePlayOut() const;
    // Waits, with the lock held, until the operation is done or the
    // connection is gone.
    void await(pa_operation* operation);
    std::int64_t heardLocked();

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWriteRequest(pa_stream* stream, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    static void onOperationDone(pa_stream* stream, int success, void* self);
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int last, void* self);
    static void onCorkTime(pa_mainloop_api* api, pa_time_event* event, const timeval* when, void* self);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    // Set by the main loop's thread when the server goes away.
    std::atomic<bool> lost_{false};

    // Engine thread only, under the lock.
    int rate_ = 0;
    int channels_ = 0;
    bool corked_ = true;
    bool segmentBegun_ = false;
    bool started_ = false;
    bool dataEnded_ = false;
    // The server ran out of this segment's samples: after its end, all has
    // been played.
    bool ranDry_ = false;
    // The server's byte index, in frames, where this segment's frame 0 is.
    std::int64_t segmentOrigin_ = 0;
    // How far ahead of what is heard the sink may have mixed, and what has
    // been mixed may have gone on (to a monitor, say): fades and starts are
    // placed after it. Frames, as of the segment's start.
    int mixedAhead_ = 0;
    std::int64_t written_ = 0;
    // Where the last halt faded out; heard until the next segment begins.
    std::optional<std::int64_t> haltedAt_;
    std::chrono::steady_clock::time_point fadeEnds_;
    pa_time_event* corkTimer_ = nullptr;
    // The last samples written, by segment frame, for the fade at a halt.
    std::vector<std::int16_t> history_;
    std::vector<std::int16_t> fade_;
    std::vector<std::int16_t> silence_;
};
