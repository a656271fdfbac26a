#pragma once

#include <string>

#include <SDL2/SDL.h>

// SDL's audio calls, from the SDL library loaded when audio is first needed
// rather than when the program starts: Debian's SDL brings some thirty
// libraries with it (sound servers, codecs, Wayland), whose loading would
// otherwise delay every start of the window.
struct SdlAudioApi {
    decltype(&SDL_SetHint) setHint;
    decltype(&SDL_InitSubSystem) initSubSystem;
    decltype(&SDL_QuitSubSystem) quitSubSystem;
    decltype(&SDL_WasInit) wasInit;
    decltype(&SDL_Quit) quit;
    decltype(&SDL_GetError) getError;
    decltype(&SDL_GetCurrentAudioDriver) currentAudioDriver;
    decltype(&SDL_OpenAudioDevice) openAudioDevice;
    decltype(&SDL_CloseAudioDevice) closeAudioDevice;
    decltype(&SDL_PauseAudioDevice) pauseAudioDevice;
    decltype(&SDL_LockAudioDevice) lockAudioDevice;
    decltype(&SDL_UnlockAudioDevice) unlockAudioDevice;
    decltype(&SDL_GetAudioDeviceStatus) audioDeviceStatus;

    // Loaded on the first call and kept for the life of the process. Returns
    // nullptr and sets `error` when SDL cannot be loaded.
    static const SdlAudioApi* get(std::string& error);
};
