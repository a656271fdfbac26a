// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

#include "harness/tempdir.h"

// For the rest of this process: no sound server answers (PULSE_SERVER names
// a socket in `dir` that nothing listens on), and ALSA knows only the
// devices `alsaConfig` describes, written into `dir`.
inline void playWithoutServer(const TempDir& dir, const std::string& alsaConfig)
{
    std::ofstream(dir.file("asound.conf")) << alsaConfig;
    setenv("ALSA_CONFIG_PATH", dir.file("asound.conf").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + dir.file("no-server")).c_str(), 1);
}
