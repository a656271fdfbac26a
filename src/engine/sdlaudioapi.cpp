#include "engine/sdlaudioapi.h"

#include <optional>

#include <QLibrary>

namespace {

template <typename Function>
bool resolve(QLibrary& library, const char* name, Function& into)
{
    into = reinterpret_cast<Function>(library.resolve(name));
    return into != nullptr;
}

struct LoadedApi {
    std::optional<SdlAudioApi> api;
    std::string error;
};

LoadedApi load()
{
    // The library stays loaded: QLibrary unloads only when asked to.
    QLibrary library(QStringLiteral("SDL2-2.0"), 0);
    if (!library.load())
        return {std::nullopt, library.errorString().toStdString()};
    SdlAudioApi api{};
    const bool resolved = resolve(library, "SDL_SetHint", api.setHint)
                          && resolve(library, "SDL_InitSubSystem", api.initSubSystem)
                          && resolve(library, "SDL_QuitSubSystem", api.quitSubSystem)
                          && resolve(library, "SDL_WasInit", api.wasInit)
                          && resolve(library, "SDL_Quit", api.quit)
                          && resolve(library, "SDL_GetError", api.getError)
                          && resolve(library, "SDL_GetCurrentAudioDriver", api.currentAudioDriver)
                          && resolve(library, "SDL_OpenAudioDevice", api.openAudioDevice)
                          && resolve(library, "SDL_CloseAudioDevice", api.closeAudioDevice)
                          && resolve(library, "SDL_PauseAudioDevice", api.pauseAudioDevice)
                          && resolve(library, "SDL_LockAudioDevice", api.lockAudioDevice)
                          && resolve(library, "SDL_UnlockAudioDevice", api.unlockAudioDevice)
                          && resolve(library, "SDL_GetAudioDeviceStatus", api.audioDeviceStatus);
    if (!resolved)
        return {std::nullopt, library.errorString().toStdString()};
    return {api, {}};
}

} // namespace

const SdlAudioApi* SdlAudioApi::get(std::string& error)
{
    static const LoadedApi loaded = load();
    if (!loaded.api) {
        error = "cannot load SDL: " + loaded.error;
        return nullptr;
    }
    return &*loaded.api;
}
