// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "output/applicationidentity.h"
#include "output/audiooutput.h"
#include "output/pulsewaitcancel.h"

class PulseMainLoop;
class PulseStream;

// A stream on the sound server (PulseAudio, or PipeWire through its
// PulseAudio service), through libpulse's threaded main loop.
//
// The server holds two seconds ahead, so it works in large blocks. Halting
// fades out by rewriting the few milliseconds about to be heard in the
// server's queue, then corks the stream once the fade has surely played: the
// server rewinds its sink, so nothing queued behind is heard. The next
// segment flushes the corked stream and starts where the server's read index
// stands. What is heard moves on only while the stream plays and its sink is
// not suspended.
//
// Threads: the engine's thread makes every call, and takes the main loop's
// lock around each use of the connection or the stream (the lock order is
// in pulsemainloop.h). The main loop's thread runs their callbacks, which
// touch only the connection's and the stream's own fields and wake the
// engine. Nothing waits for a fade to play out with the lock held. Every
// wait on the server is bounded (pulsemainloop.h), and abandonWaits() ends
// one from another thread.
//
// The server's mixer shows the connection as the application's, with its
// icon, and the stream as music, named after the open file.
class PulseOutput final : public AudioOutput {
public:
    explicit PulseOutput(ApplicationIdentity identity);
    ~PulseOutput() override;

    // Starts connecting to the server, which costs it nothing until a stream
    // plays, without waiting: the first prepare() waits for the connection.
    void warmUp() override;
    bool prepare(int rate, int channels, std::string& error) override;
    void abandonWaits() override { waitCancel_.cancel(); }
    const char* name() const override { return "sound server"; }
    // The last prepare() failed because the server let a bound pass.
    bool unanswered() const override { return serverUnanswered_; }
    bool isOpen() const override { return stream_ != nullptr; }
    void close() override;
    bool lost() const override;
    void nameStream(const std::string& title) override;

    std::size_t writable() override;
    void write(const std::int16_t* samples, std::size_t frames) override;
    void endOfData() override;
    void start() override;
    std::int64_t halt(const HaltFade& fade) override;
    std::int64_t heardFrames() override;
    bool heardAdvances() override;
    std::chrono::milliseconds keptForFade() const override;
    std::chrono::milliseconds refillPeriod() const override;

private:
    // A halt's cork follows the fade this far behind: where PipeWire's graph
    // misses cycles, as on a loaded machine, it plays the stream tens of
    // milliseconds late, and a cork 20 ms after the fade cut the tone off
    // before it (2 of 8 runs of 12 pauses and stops, at 42 ms). Silence
    // covers until the cork lands.
    static constexpr std::chrono::milliseconds corkAfterFade{120};
    static constexpr std::chrono::milliseconds fadeSilence{corkAfterFade + std::chrono::milliseconds(80)};
    // What a server that plays out what it has read is taken to read ahead of
    // what is heard, until seen to read further (pulsehalt.cpp).
    static constexpr std::chrono::milliseconds readAheadFirst{6};
    bool startConnecting(std::string& error);
    // Connecting where no connection is under way, then waiting until it is
    // ready.
    bool connect(std::string& error);
    // With the lock held.
    bool openStream(int rate, int channels, std::string& error);
    // The main loop's lock, held, on a stream whose segment has begun;
    // not held where there is no such stream.
    std::unique_lock<PulseMainLoop> lockBegunSegment();
    // With the lock held: flushes what an earlier segment left and anchors
    // this one at the server's read index.
    bool beginSegment(std::string& error);
    // A halt's fade is heard before anything replaces it. Without the lock.
    void letFadePlayOut();
    // Whether the server says it has played the last halt's fade, or cannot
    // say. Without the lock.
    bool fadePlayed();
    // With the lock held, on a started segment: the segment frame where a
    // halt's fade begins, the frame heard now being `heard`.
    std::int64_t fadeStart(std::int64_t heard);
    // With the lock held.
    std::int64_t segmentFrameHeard();
    // With the lock held: a call on the stream failed, so the output is lost.
    void streamFailed(const char* what, const std::string& error);

    // Any thread cancels it; the connections made wait on it.
    PulseWaitCancel waitCancel_;
    const ApplicationIdentity identity_;
    // The engine's thread alone reads and writes the fields below; the
    // objects the first two point to have fields of their own that their
    // callbacks write.
    std::unique_ptr<PulseMainLoop> mainLoop_;
    std::unique_ptr<PulseStream> stream_;
    // What the stream is named; the application's name until a file's.
    std::string title_;
    bool segmentBegun_ = false;
    bool started_ = false;
    bool dataEnded_ = false;
    bool serverUnanswered_ = false;
    // The server's index, in frames, where this segment's frame 0 is.
    std::int64_t segmentOrigin_ = 0;
    // How far ahead of what is heard the sink may have mixed, and what has
    // been mixed may have gone on (to a monitor, say): fades and starts are
    // placed after it. Frames, as of the segment's start.
    std::int64_t mixedAhead_ = 0;
    // On a server that plays out what it has read: how far ahead of what is
    // heard it may read, in frames, as seen on this stream.
    std::int64_t readAhead_ = 0;
    // The segment frame last heard, kept where the server's timing fails.
    std::int64_t lastHeard_ = 0;
    // Where the last halt faded out; heard until the next segment begins.
    std::optional<std::int64_t> haltedAt_;
    // When the last halt's fade will have been heard and its cork made, while
    // that is to come: a new segment, in this format or another, waits for it.
    std::optional<std::chrono::steady_clock::time_point> fadeHeardBy_;
    // The stream's frame where that fade ends.
    std::int64_t fadeEnd_ = 0;
    // This segment's frames written, past which nothing is heard.
    std::int64_t written_ = 0;
    // A halt's fade and the silence after it, as written to the server.
    std::vector<std::int16_t> fade_;
    std::vector<std::int16_t> silence_;
};
