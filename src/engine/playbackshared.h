#pragma once

#include <atomic>
#include <cstdint>

#include "engine/enginestates.h"
#include "engine/playbackclock.h"
#include "engine/ringbuffer.h"

// State shared by the engine's facade (GUI thread), its decoding thread and
// the audio callback. Everything here is lock-free.
struct PlaybackShared {
    std::atomic<int> openState{OpenState::Closed};
    std::atomic<int> playState{PlayState::Stopped};
    std::atomic<double> duration{0.0};
    std::atomic<int> sampleRate{0};
    // A file being opened may already play: a new device asks for its first
    // buffer before the open is reported, and that buffer should be the file's.
    std::atomic<bool> playingBeforeOpen{false};

    // A seek is pending while requested != done; the callback plays nothing
    // then, and the position reads as the target.
    std::atomic<double> seekTarget{0.0};
    std::atomic<std::uint64_t> seekRequested{0};
    std::atomic<std::uint64_t> seekDone{0};

    // About 0.37 s of stereo audio at 44.1 kHz.
    SampleRing ring{32768};
    PlaybackClock clock;
};
