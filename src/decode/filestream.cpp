// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/filestream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <mpg123.h>

namespace {

constexpr std::size_t blockBytes = std::size_t{64} * 1024;

mpg123_ssize_t readStream(void* stream, void* buffer, size_t size)
{
    return static_cast<mpg123_ssize_t>(static_cast<FileStream*>(stream)->read(buffer, size));
}

off_t seekStream(void* stream, off_t offset, int whence)
{
    return static_cast<off_t>(static_cast<FileStream*>(stream)->seek(offset, whence));
}

} // namespace

bool FileStream::openIn(mpg123_handle_struct* handle, std::string& error)
{
    if (mpg123_replace_reader_handle(handle, &readStream, &seekStream, nullptr) != MPG123_OK
        || mpg123_open_handle(handle, this) != MPG123_OK) {
        error = std::string("libmpg123 cannot open the stream: ") + mpg123_strerror(handle);
        return false;
    }
    return true;
}

std::int64_t FileStream::read(void* buffer, std::size_t size)
{
    const std::int64_t blockEnd = blockStart_ + static_cast<std::int64_t>(block_.size());
    if (position_ < blockStart_ || position_ >= blockEnd) {
        block_.resize(blockBytes);
        const std::optional<std::size_t> got =
            file_.readAt(block_.data(), blockBytes, begin_ + position_, lastError_);
        if (!got) {
            block_.clear();
            return -1;
        }
        block_.resize(*got);
        blockStart_ = position_;
    }
    const auto offset = static_cast<std::size_t>(position_ - blockStart_);
    const std::size_t count = std::min(size, block_.size() - offset);
    std::memcpy(buffer, block_.data() + offset, count);
    position_ += static_cast<std::int64_t>(count);
    return static_cast<std::int64_t>(count);
}

std::int64_t FileStream::seek(std::int64_t offset, int whence)
{
    std::int64_t position = offset;
    if (whence == SEEK_CUR) {
        position += position_;
    } else if (whence == SEEK_END) {
        const std::optional<std::int64_t> size = file_.size(lastError_);
        if (!size)
            return -1;
        position += *size - begin_;
    } else if (whence != SEEK_SET) {
        return -1;
    }
    if (position < 0)
        return -1;
    position_ = position;
    return position;
}
