#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <SDL2/SDL_audio.h>

#include "engine/sdlaudioapi.h"

struct PlaybackShared;

// The SDL audio device. Its callback takes decoded samples from the shared
// ring while the engine plays, fades in and out at starts and stops so they
// do not click, and records each buffer in the playback clock. The callback
// never blocks, allocates or touches a file.
class AudioOutput {
public:
    explicit AudioOutput(PlaybackShared& shared);
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
    ~AudioOutput();

    // Makes sure a device is open and running at this format, reusing the
    // open one if it matches. A new one asks for its first buffer at once, so
    // whatever is to play should be ready before. Returns false and sets
    // `error` when none can be opened.
    bool ensureOpen(int rate, int channels, std::string& error);

    // Empties the ring and restarts the clock at `fileFrame`, with the
    // callback held off meanwhile.
    void restartAt(std::int64_t fileFrame);

    int bufferFrames() const { return bufferFrames_; }
    bool isOpen() const { return device_ != 0; }
    // The device went away while open (its sound server ended, say).
    bool lost() const;
    void close();

private:
    class SdlAudioSubsystem {
    public:
        explicit SdlAudioSubsystem(const SdlAudioApi& sdl);
        SdlAudioSubsystem(const SdlAudioSubsystem&) = delete;
        SdlAudioSubsystem& operator=(const SdlAudioSubsystem&) = delete;
        ~SdlAudioSubsystem();
        bool ok() const { return ok_; }

    private:
        const SdlAudioApi& sdl_;
        bool ok_;
    };

    static void SDLCALL callback(void* self, Uint8* stream, int length);
    void fill(std::int16_t* out, int frames);

    PlaybackShared& shared_;
    const SdlAudioApi* sdl_ = nullptr;
    std::optional<SdlAudioSubsystem> subsystem_;
    SDL_AudioDeviceID device_ = 0;
    int rate_ = 0;
    int channels_ = 0;
    int bufferFrames_ = 0;
    int fadeFrames_ = 0;

    // Touched only by the callback, or while it is held off.
    bool wasPlaying_ = false;
    std::int64_t fileFrame_ = 0;
};
