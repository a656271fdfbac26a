// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>

#include "decode/samplesource.h"
#include "harness/testsink.h"
#include "support/cdaudio.h"

// What the engine's tests share: the format and tone of the test files, the
// sizes the engine's sound is measured by, and the decoder the program uses.

inline constexpr double toneA = 440.0;
// The engine's fade at starts and stops.
inline constexpr std::size_t fadeFrames = cdRate / 200;
// A gap between tones longer than any zero crossing.
inline constexpr std::size_t gapFrames = 2000;
// Pause, stop and replace are heard within this, the sink's recorder's own
// delay included.
inline constexpr double promptSeconds = 0.030;

double secondsSince(std::chrono::steady_clock::time_point start);

// Opens a file with libmpg123, as the program does.
std::unique_ptr<SampleSource> openDecoder(const std::string& path, std::string& error, std::stop_token cancel);
