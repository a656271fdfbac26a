#include "harness/diskaudio.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>

DiskAudio::DiskAudio(Pacing pacing) : path_(dir_.file("audio.raw")), pacing_(pacing) {}

std::vector<std::pair<std::string, std::string>> DiskAudio::environment() const
{
    std::vector<std::pair<std::string, std::string>> settings{{"SDL_AUDIODRIVER", "disk"},
                                                              {"SDL_DISKAUDIOFILE", path_}};
    if (pacing_ == Pacing::Unpaced)
        settings.emplace_back("SDL_DISKAUDIODELAY", "0");
    return settings;
}

void DiskAudio::useInThisProcess() const
{
    unsetenv("SDL_DISKAUDIODELAY");
    for (const auto& [name, value] : environment())
        setenv(name.c_str(), value.c_str(), 1);
}

std::size_t DiskAudio::framesWritten(int channels) const
{
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path_, error);
    return error ? 0 : static_cast<std::size_t>(bytes) / (sizeof(std::int16_t) * static_cast<std::size_t>(channels));
}

PcmRecording DiskAudio::read(int rate, int channels, std::size_t fromFrame) const
{
    return readPcm(path_, rate, channels, fromFrame);
}
