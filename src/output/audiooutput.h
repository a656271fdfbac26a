// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "output/haltfade.h"

// Where decoded samples go: a sound server's stream, or a sound card.
//
// The engine's thread makes every call but abandonWaits(). What is written
// between a prepare() or halt() and the next one is a segment. The engine
// owns it: it numbers its frames from 0 and maps them to the file, fades in
// at each start, and at each halt gives the fade out, with the segment's last
// frames to make it from (haltfade.h). A backend plays the frames it is
// given, says which is heard, and at halt() puts the fade in place of what
// it has not played yet, from the first frame it can still replace, and
// stops after it. It queues ahead generously, so that neither it nor the
// sound server wakes often, and still silences within a few milliseconds.
//
// A backend pushes frames to its server or device as the engine writes them
// (libpulse, ALSA), and places the fade by rewriting what the server holds
// or taking back what the device holds; or it keeps a PullQueue
// (pullqueue.h) that its server's callback pulls each cycle's frames from,
// and fades the next frames pulled (PipeWire). Where neither can be done in
// time, the halt drops what is queued unfaded. Every wait on something
// outside the process has a deadline.
//
// Mandatory: name, prepare, isOpen, close, lost, writable, write,
// endOfData, start, halt, heardFrames, keptForFade, refillPeriod. Optional,
// with what they do where a backend does not: applies (always), unanswered
// (never), avoidsUnansweredServer (always), warmUp (nothing), abandonWaits
// (nothing: a backend whose waits are all short), nameStream (nothing),
// heardAdvances (always). The program's backends are tried in the order
// systemoutput.cpp lists them (firstworkingoutput.h).
class AudioOutput {
public:
    AudioOutput() = default;
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
    virtual ~AudioOutput() = default;

    // What it plays through, for the log and the reasons it gives.
    virtual const char* name() const = 0;
    // Whether it is worth asking here at all, found without waiting: a
    // server's socket is there, say.
    virtual bool applies() const { return true; }
    // After a prepare() that failed: whether what it plays through let a
    // bound pass without answering, rather than refusing.
    virtual bool unanswered() const { return false; }
    // Whether it may be asked once a server did not answer: false, with the
    // reason in `error`, where it would wait on that server again.
    virtual bool avoidsUnansweredServer(std::string& error) const
    {
        static_cast<void>(error);
        return true;
    }
    // Gets ready for a first prepare() to be quick, where it can, without
    // waiting on anything.
    virtual void warmUp() {}
    // Any thread, as the engine stops: a wait on a device or a server in
    // progress ends at once, and every later one fails without waiting.
    virtual void abandonWaits() {}
    // Stopped and empty at this format, at the start of a new segment. Keeps
    // the stream when the format matches. Returns false and sets `error`
    // when no output can be had.
    virtual bool prepare(int rate, int channels, std::string& error) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // The output went away while open (its sound server ended, say).
    virtual bool lost() const = 0;
    // What the sound server shows as playing, the open file's title: for the
    // stream open now, and for those opened later. Never waits.
    virtual void nameStream(const std::string& title) { static_cast<void>(title); }

    // Frames it takes now without waiting.
    virtual std::size_t writable() = 0;
    virtual void write(const std::int16_t* samples, std::size_t frames) = 0;
    // Nothing more follows in this segment: play what is queued, however short.
    virtual void endOfData() = 0;
    // Starts sounding the segment.
    virtual void start() = 0;
    // Silences at once with `fade` in place of what is not yet played, and
    // drops what is queued. Returns the segment frame to go on from later:
    // the listener has heard everything before it.
    virtual std::int64_t halt(const HaltFade& fade) = 0;

    // The segment frame being heard now.
    virtual std::int64_t heardFrames() = 0;
    // Whether that frame moves on in real time now: not while a suspended
    // device or a server that has stopped the stream holds it.
    virtual bool heardAdvances() { return true; }
    // How much of a segment the engine keeps for a halt's fade: as much as
    // the backend may hold written and not yet heard, where it writes the
    // fade itself; none where it fades frames it holds (a PullQueue).
    virtual std::chrono::milliseconds keptForFade() const = 0;
    // How often the engine should come back to write more while it plays.
    virtual std::chrono::milliseconds refillPeriod() const = 0;

    // Called from the output's own thread when it needs the engine's
    // attention, as when it is lost.
    void setWake(std::function<void()> wake) { wake_ = std::move(wake); }

protected:
    void wakeEngine() const
    {
        if (wake_)
            wake_();
    }

private:
    std::function<void()> wake_;
};
