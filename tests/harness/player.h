#pragma once

#include <memory>
#include <string>

#include "harness/diskaudio.h"
#include "harness/process.h"
#include "harness/virtualdisplay.h"

// The real program on a virtual display, playing into SDL's disk driver.
inline const std::string playerCaption = "Merlow 0.01(d)  [Alpha Version]";

// `wrapper`, if given, runs the player (a tracer, say): its arguments come
// first, then the player's path.
std::unique_ptr<ChildProcess> startPlayer(const VirtualDisplay& display, const DiskAudio& audio,
                                          const std::string& stderrPath,
                                          const std::vector<std::string>& wrapper = {});

// A file in the folder the tests leave their screenshots and logs in.
std::string artifact(const std::string& name);
