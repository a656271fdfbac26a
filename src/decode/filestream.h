#pragma once

#include <cstddef>
#include <cstdint>
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

    // Opens this stream in `handle`.
    bool openIn(mpg123_handle_struct* handle);

    std::int64_t begin() const { return begin_; }

    // As read(2) and lseek(2) would, within the stream.
    std::int64_t read(void* buffer, std::size_t size);
    std::int64_t seek(std::int64_t offset, int whence);

private:
    const RegularFile& file_;
    std::int64_t begin_;
    std::int64_t position_ = 0;
    // The block last read, and where in the stream it starts.
    std::vector<std::uint8_t> block_;
    std::int64_t blockStart_ = 0;
};
