// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/regularfile.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string lastError()
{
    return std::generic_category().message(errno);
}
} // namespace

std::optional<RegularFile> RegularFile::open(const std::string& path, std::string& error)
{
    // Look before opening, so a device is never opened at all; then check
    // what was opened, in case the path changed in between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = lastError();
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return std::nullopt;
    }
    RegularFile file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.fd_ < 0) {
        error = lastError();
        return std::nullopt;
    }
    if (::fstat(file.fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return std::nullopt;
    }
    return file;
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        cancelReads_ = std::move(other.cancelReads_);
    }
    return *this;
}

RegularFile::~RegularFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::size_t> RegularFile::readAt(void* buffer, std::size_t size, std::int64_t offset,
                                               std::string& error) const
{
    if (cancelReads_.stop_requested()) {
        error = "cancelled";
        return std::nullopt;
    }
    for (;;) {
        const ssize_t got = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR) {
            error = lastError();
            return std::nullopt;
        }
    }
}

std::optional<std::int64_t> RegularFile::size(std::string& error) const
{
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        error = lastError();
        return std::nullopt;
    }
    return std::int64_t{info.st_size};
}
