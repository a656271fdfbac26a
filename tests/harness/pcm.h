// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Raw signed 16-bit PCM as a recording of the sink holds it, and the measures the
// tests take of it. Positions and lengths are in frames.
struct PcmRecording {
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;

    std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
    std::vector<std::int16_t> channel(int index) const;
};

// From frame `from` on.
PcmRecording readPcm(const std::string& path, int rate, int channels, std::size_t from = 0);

struct Stretch {
    std::size_t start;
    std::size_t length;
};

inline constexpr int silenceThreshold = 300;

// Frequency of a pure tone from its rising zero crossings, in Hz; 0 if the
// span holds fewer than two.
double toneFrequency(const std::vector<std::int16_t>& mono, int rate, std::size_t from, std::size_t count);

// The first frame at or after `from` louder than the threshold.
std::optional<std::size_t> firstSound(const std::vector<std::int16_t>& mono, std::size_t from = 0);

// Runs of at least `minLength` frames no louder than the threshold.
std::vector<Stretch> silentStretches(const std::vector<std::int16_t>& mono, std::size_t minLength);

// Frames that are not part of a silent stretch of at least `minLength`.
std::size_t soundingFrames(const std::vector<std::int16_t>& mono, std::size_t minLength);

// The largest step between neighbouring samples in [from, from + count),
// but those into or within the stretches `skipped` and the step out of each.
int largestStep(const std::vector<std::int16_t>& mono, std::size_t from, std::size_t count,
                const std::vector<Stretch>& skipped = {});

// Cycles a sound server's graph dropped: runs of exact zeros from
// `minLength` to `maxLength` long, with sound at `level` or louder within
// `minLength` either side, where a fade gives none. Each stretch spans the
// run and `minLength` either side of it, where the server's resampler rings
// at the run's edges.
std::vector<Stretch> droppedCycles(const std::vector<std::int16_t>& mono, std::size_t minLength, std::size_t maxLength,
                                   int level);
