// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>

// A regular file opened for reading. FIFOs, sockets, devices and folders are
// refused before anything could wait on them: the open never blocks.
class RegularFile {
public:
    // Returns nothing and sets `error` to the reason when the path cannot be
    // opened or is not a regular file.
    static std::optional<RegularFile> open(const std::string& path, std::string& error);

    RegularFile(RegularFile&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), cancelReads_(std::move(other.cancelReads_))
    {
    }
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    int descriptor() const { return fd_; }

    // Reads up to `size` bytes at `offset`: the count read, 0 at the end, or
    // nothing with `error` set. Once the token given to cancelReadsOn() is
    // requested, nothing more is read: each read fails with the reason
    // "cancelled" before it begins.
    std::optional<std::size_t> readAt(void* buffer, std::size_t size, std::int64_t offset, std::string& error) const;
    // Reads stop when `cancel` is requested; an empty token reads on.
    void cancelReadsOn(std::stop_token cancel) { cancelReads_ = std::move(cancel); }

    // The file's size in bytes now, or nothing with `error` set.
    std::optional<std::int64_t> size(std::string& error) const;

private:
    explicit RegularFile(int fd) : fd_(fd) {}

    int fd_;
    std::stop_token cancelReads_;
};
