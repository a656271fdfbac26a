// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

#include "harness/tempdir.h"
#include "harness/withoutserver.h"

// For the rest of this process: no sound server answers, and ALSA's default
// device is a sound card of the tests' own that plays in real time, its
// recording what a listener hears (16-bit stereo at the device's rate).
class TestCard {
public:
    explicit TestCard(const TempDir& dir) : path_(dir.file("card-heard.raw"))
    {
        playWithoutServer(dir, "pcm_type.merlowcard { lib \"" MERLOW_TESTCARD_LIBRARY "\" }\n"
                               "pcm.!default { type merlowcard file \"" + path_ + "\" }\n");
    }

    const std::string& path() const { return path_; }
    std::size_t framesRecorded() const
    {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(path_, error);
        return error ? 0 : static_cast<std::size_t>(bytes) / 4;
    }

private:
    std::string path_;
};
