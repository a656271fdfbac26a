// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/regularfile.h"

struct mpg123_handle_struct;

// The part of a file from an offset on, which libmpg123 reads as a whole
// stream: decoding can then start at any frame of the file. It must outlive
// the handle that reads it. Reads go to the file in large blocks, since
// libmpg123 asks for each frame's few hundred bytes in turn.
class FileStream {
public:
    FileStream(const RegularFile& file, std::int64_t begin) : file_(file), begin_(begin) {}
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens this stream in `handle`, or returns false and sets `error`.
    bool openIn(mpg123_handle_struct* handle, std::string& error);

    // As read(2) and lseek(2) would, within the stream. libmpg123 is told
    // only -1 when the file fails: the reason is kept for lastError().
    std::int64_t read(void* buffer, std::size_t size);
    std::int64_t seek(std::int64_t offset, int whence);

    // Why the file last failed to be read or to tell its size; empty while
    // it has not. A seek before the stream's start is refused as lseek(2)
    // would, and is no failure of the file.
    const std::string& lastError() const { return lastError_; }

private:
    const RegularFile& file_;
    std::int64_t begin_;
    std::int64_t position_ = 0;
    // The block last read, and where in the stream it starts.
    std::vector<std::uint8_t> block_;
    std::int64_t blockStart_ = 0;
    std::string lastError_;
};
