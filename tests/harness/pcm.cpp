// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/pcm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

std::vector<std::int16_t> PcmRecording::channel(int index) const
{
    std::vector<std::int16_t> out;
    out.reserve(frames());
    for (auto i = static_cast<std::size_t>(index); i < samples.size(); i += static_cast<std::size_t>(channels))
        out.push_back(samples[i]);
    return out;
}

PcmRecording readPcm(const std::string& path, int rate, int channels, std::size_t from)
{
    PcmRecording pcm{rate, channels, {}};
    const std::size_t frameBytes = sizeof(std::int16_t) * static_cast<std::size_t>(channels);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from * frameBytes));
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t whole = bytes.size() / frameBytes * frameBytes;
    pcm.samples.resize(whole / sizeof(std::int16_t));
    if (whole > 0)
        std::memcpy(pcm.samples.data(), bytes.data(), whole);
    return pcm;
}

double toneFrequency(const std::vector<std::int16_t>& mono, int rate, std::size_t from, std::size_t count)
{
    const std::size_t end = std::min(mono.size(), from + count);
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t i = from + 1; i < end; ++i) {
        if (mono[i - 1] < 0 && mono[i] >= 0) {
            // Interpolate where the signal crosses zero between the samples.
            const double t = static_cast<double>(i - 1) + static_cast<double>(-mono[i - 1]) / (mono[i] - mono[i - 1]);
            if (first < 0.0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return (crossings - 1) * static_cast<double>(rate) / (last - first);
}

std::optional<std::size_t> firstSound(const std::vector<std::int16_t>& mono, std::size_t from)
{
    for (std::size_t i = from; i < mono.size(); ++i) {
        if (std::abs(mono[i]) > silenceThreshold)
            return i;
    }
    return std::nullopt;
}

std::vector<Stretch> silentStretches(const std::vector<std::int16_t>& mono, std::size_t minLength)
{
    std::vector<Stretch> out;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i <= mono.size(); ++i) {
        if (i < mono.size() && std::abs(mono[i]) <= silenceThreshold)
            continue;
        if (i - runStart >= minLength)
            out.push_back({runStart, i - runStart});
        runStart = i + 1;
    }
    return out;
}

std::size_t soundingFrames(const std::vector<std::int16_t>& mono, std::size_t minLength)
{
    std::size_t silent = 0;
    for (const Stretch& s : silentStretches(mono, minLength))
        silent += s.length;
    return mono.size() - silent;
}

int largestStep(const std::vector<std::int16_t>& mono, std::size_t from, std::size_t count,
                const std::vector<Stretch>& skipped)
{
    const auto isSkipped = [&](std::size_t i) {
        return std::any_of(skipped.begin(), skipped.end(),
                           [&](const Stretch& s) { return i >= s.start && i <= s.start + s.length; });
    };
    int largest = 0;
    const std::size_t end = std::min(mono.size(), from + count);
    for (std::size_t i = from + 1; i < end; ++i) {
        if (!isSkipped(i))
            largest = std::max(largest, std::abs(mono[i] - mono[i - 1]));
    }
    return largest;
}

std::vector<Stretch> droppedCycles(const std::vector<std::int16_t>& mono, std::size_t minLength, std::size_t maxLength,
                                   int level)
{
    // The sound either side is looked for within the shortest run's length.
    const std::size_t near = minLength;
    const auto loud = [&](std::size_t from, std::size_t to) {
        return std::any_of(mono.begin() + static_cast<std::ptrdiff_t>(from),
                           mono.begin() + static_cast<std::ptrdiff_t>(to),
                           [&](std::int16_t s) { return std::abs(s) >= level; });
    };
    std::vector<Stretch> dropped;
    for (std::size_t i = near; i + near < mono.size();) {
        if (mono[i] != 0) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < mono.size() && mono[end] == 0)
            ++end;
        const std::size_t length = end - i;
        if (length >= minLength && length <= maxLength && end + near <= mono.size() && loud(i - near, i)
            && loud(end, end + near))
            dropped.push_back({i - near, length + 2 * near});
        i = end;
    }
    return dropped;
}
