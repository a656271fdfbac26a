// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "harness/process.h"
#include "harness/tempdir.h"
#include "harness/testsink.h"
#include "harness/virtualdisplay.h"

// The real program on a virtual display, playing into the test's sound sink.
inline const std::string playerCaption = "Merlow 0.01(d)  [Alpha Version]";

// How the player is started: which binary (the one built, or one installed
// elsewhere), run by what wrapper (a tracer, say: its arguments come first,
// then the binary's path), with what variables added to its environment.
struct PlayerLaunch {
    std::string binary = MERLOW_BINARY;
    std::vector<std::string> wrapper;
    std::vector<std::pair<std::string, std::string>> environment;
};

std::unique_ptr<ChildProcess> startPlayer(const VirtualDisplay& display, const TestSink& audio,
                                          const std::string& stderrPath, const PlayerLaunch& launch = {});
// The same with the sound server's client settings given.
std::unique_ptr<ChildProcess> startPlayer(const VirtualDisplay& display,
                                          const std::vector<std::pair<std::string, std::string>>& soundEnvironment,
                                          const std::string& stderrPath, const PlayerLaunch& launch = {});

// What a player that has not shown its window is doing: whether it still
// runs, its threads' stacks as gdb sees them, and what it wrote to stderr.
std::string describePlayer(ChildProcess& player, const std::string& stderrPath);

// The binary copied into `dir`, which it opens to every user: for a test that
// runs the player as another user, who may not enter the folder the build is
// in (a clone in a home folder of mode 0700). Returns the copy's path.
std::string copyForAnyUser(const TempDir& dir, const std::string& binary = MERLOW_BINARY);

// The first folder on the way to `path` that other users may not pass
// through; empty when they reach it.
std::string folderClosedToOthers(const std::string& path);

// A file in the folder the tests leave their screenshots and logs in.
std::string artifact(const std::string& name);
