// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "harness/tempdir.h"

// One file that reads slowly in a program the test starts, as on a slow disk
// or a dead network share: the library preloaded into it (slowreads_preload.cpp)
// delays each read of the file, or blocks one of them for a while, and
// counts the reads of it begun.
class SlowReads {
public:
    struct Plan {
        // Each read lasts this much longer.
        std::chrono::milliseconds delay{0};
        // This read (1 the first) blocks for `block` instead.
        long blockRead = 0;
        std::chrono::milliseconds block{0};
    };

    SlowReads(const std::string& file, const Plan& plan) : count_(dir_.file("reads"))
    {
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0)
            throw std::runtime_error("cannot find " + file);
        environment_ = {
            {"LD_PRELOAD", MERLOW_SLOWREADS_LIBRARY},
            {"MERLOW_SLOWREADS_DEVICE", std::to_string(info.st_dev)},
            {"MERLOW_SLOWREADS_INODE", std::to_string(info.st_ino)},
            {"MERLOW_SLOWREADS_DELAY_MS", std::to_string(plan.delay.count())},
            {"MERLOW_SLOWREADS_BLOCK_READ", std::to_string(plan.blockRead)},
            {"MERLOW_SLOWREADS_BLOCK_MS", std::to_string(plan.block.count())},
            {"MERLOW_SLOWREADS_COUNT_FILE", count_},
        };
        // Under AddressSanitizer the library comes before its runtime.
        if (const char* asan = std::getenv("ASAN_OPTIONS"))
            environment_.emplace_back("ASAN_OPTIONS", std::string(asan) + ":verify_asan_link_order=0");
    }

    // What the program's environment needs.
    const std::vector<std::pair<std::string, std::string>>& environment() const { return environment_; }

    // The reads of the file the program has begun so far.
    long readsBegun() const
    {
        std::error_code error;
        const auto size = std::filesystem::file_size(count_, error);
        return error ? 0 : static_cast<long>(size);
    }

private:
    TempDir dir_;
    std::string count_;
    std::vector<std::pair<std::string, std::string>> environment_;
};
