// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <string>
#include <vector>

#include "harness/soundserver.h"
#include "remote.h"

// How long each command takes to be heard on the sink, in ms: from the
// moment it has been given to the frame of the recording where the sink
// changes, placed in wall time by the recording's own clock (SinkClock).
struct Latencies {
    enum Step { LoadFresh, Pause, Resume, Stop, LoadStopped, Replace, stepCount };
    static constexpr std::array<const char*, stepCount> names{
        "load on a fresh start → first sound", "pause → silence",  "resume → first sound",
        "stop → silence",                      "load just after a stop → first sound",
        "load while another file plays → the new file heard"};

    std::array<std::vector<double>, stepCount> ms;
};

// The files played: the second at another pitch, heard by its pitch when it
// replaces the first.
struct LatencyFiles {
    std::string first;
    std::string second;
    double secondHz;
};

// Drives a player that has just started, with nothing loaded, through each
// step once, while `recording` records the sink. False, with what went
// wrong, if a command could not be given or was not heard within 3 s.
bool measureLatencies(Remote& player, const SoundServer::Recording& recording, const LatencyFiles& files,
                      Latencies& into, std::string& error);
