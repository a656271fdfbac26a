// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's decoding speed against `mpg123 -t` (decode, write nowhere) on
// the same files, runs interleaved. Prints a markdown table of times and
// speeds (times real time), medians with their range.
//
// Usage: decode_bench RUNS FILE...
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "decode/mpg123decoder.h"
#include "harness/process.h"
#include "stats.h"

using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Opens (with its length scan) and decodes the whole file; returns the
// audio's length in seconds.
double decodeWithEngine(const std::string& path)
{
    std::string error;
    const auto decoder = Mpg123Decoder::open(path, error);
    if (!decoder) {
        std::cerr << "decode_bench: " << path << ": " << error << "\n";
        std::exit(1);
    }
    std::vector<std::int16_t> chunk(8192);
    bool ended = false;
    while (!ended)
        decoder->read(chunk.data(), chunk.size(), ended);
    return static_cast<double>(decoder->lengthFrames()) / decoder->rate();
}

void decodeWithMpg123(const std::string& path)
{
    ChildProcess::Options options;
    options.arguments = {"-q", "-t", path};
    ChildProcess mpg123("/usr/bin/mpg123", options);
    if (mpg123.waitForExit(std::chrono::minutes(2)) != 0) {
        std::cerr << "decode_bench: mpg123 -t failed on " << path << "\n";
        std::exit(1);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::cerr << "usage: decode_bench RUNS FILE...\n";
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::cout << "| file | engine s | mpg123 -t s | engine speed | mpg123 speed | engine / mpg123 |\n"
              << "|---|---|---|---|---|---|\n";
    bool met = true;
    for (int f = 2; f < argc; ++f) {
        const std::string path = argv[f];
        std::vector<double> engine;
        std::vector<double> peer;
        double length = 0.0;
        for (int run = 0; run < runs; ++run) {
            auto start = Clock::now();
            length = decodeWithEngine(path);
            engine.push_back(secondsSince(start));
            start = Clock::now();
            decodeWithMpg123(path);
            peer.push_back(secondsSince(start));
        }
        const Spread e = spreadOf(engine);
        const Spread p = spreadOf(peer);
        std::printf("| %s | %s | %s | %.0fx | %.0fx | %.2fx |\n", path.substr(path.rfind('/') + 1).c_str(),
                    formatSpread(e, 3).c_str(), formatSpread(p, 3).c_str(), length / e.median, length / p.median,
                    p.median / e.median);
        met = met && p.median / e.median >= 0.9;
    }
    std::printf("\nTarget, the engine at least 0.9x the speed of mpg123 -t on every file: %s\n", met ? "met" : "not met");
    return 0;
}
