#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "harness/pcm.h"
#include "harness/tempdir.h"

// Where SDL's disk driver writes what a player plays, and reading it back.
class DiskAudio {
public:
    enum class Pacing { RealTime, Unpaced };

    explicit DiskAudio(Pacing pacing = Pacing::RealTime);

    // Points SDL in this process at the capture file; takes effect at the
    // next device open.
    void useInThisProcess() const;
    // The same settings for a child process's environment.
    std::vector<std::pair<std::string, std::string>> environment() const;

    const std::string& path() const { return path_; }
    std::size_t framesWritten(int channels) const;
    PcmRecording read(int rate, int channels, std::size_t fromFrame = 0) const;

private:
    TempDir dir_;
    std::string path_;
    Pacing pacing_;
};
