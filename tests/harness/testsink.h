// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "harness/pcm.h"
#include "harness/soundserver.h"
#include "harness/tempdir.h"
#include "support/cdaudio.h"

// What a player plays, recorded from the null sink of a PulseAudio server
// that this test process starts on first use and stops, by its PID, at exit,
// or of another server with a sink named "null". Each sink records from its
// creation on, as 16-bit stereo at 44.1 kHz.
class TestSink {
public:
    static constexpr int rate = cdRate;
    static constexpr int channels = 2;

    TestSink();
    explicit TestSink(const std::vector<std::pair<std::string, std::string>>& serverEnvironment);

    // Points the sound server's clients in this process at the test server.
    static void useInThisProcess();
    // The same settings for a child process's environment.
    static std::vector<std::pair<std::string, std::string>> environment();

    std::size_t framesRecorded() const { return recording_.framesRecorded(); }
    PcmRecording read(std::size_t fromFrame = 0) const;

    static SoundServer& server();

private:
    TempDir dir_;
    SoundServer::Recording recording_;
};
