#include "harness/player.h"

#include <filesystem>

std::unique_ptr<ChildProcess> startPlayer(const VirtualDisplay& display, const DiskAudio& audio,
                                          const std::string& stderrPath)
{
    ChildProcess::Options options;
    options.environment = audio.environment();
    options.environment.emplace_back("DISPLAY", display.name());
    options.unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
    options.stderrPath = stderrPath;
    return std::make_unique<ChildProcess>(MERLOW_BINARY, options);
}

std::string artifact(const std::string& name)
{
    std::filesystem::create_directories(MERLOW_ARTIFACT_DIR);
    return std::string(MERLOW_ARTIFACT_DIR "/") + name;
}
