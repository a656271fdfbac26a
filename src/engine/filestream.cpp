#include "engine/filestream.h"

#include <cstdio>
#include <string>

#include <mpg123.h>
#include <sys/stat.h>

namespace {

mpg123_ssize_t readStream(void* stream, void* buffer, size_t size)
{
    return static_cast<mpg123_ssize_t>(static_cast<FileStream*>(stream)->read(buffer, size));
}

off_t seekStream(void* stream, off_t offset, int whence)
{
    return static_cast<off_t>(static_cast<FileStream*>(stream)->seek(offset, whence));
}

} // namespace

bool FileStream::openIn(mpg123_handle_struct* handle)
{
    return mpg123_replace_reader_handle(handle, &readStream, &seekStream, nullptr) == MPG123_OK
           && mpg123_open_handle(handle, this) == MPG123_OK;
}

std::int64_t FileStream::read(void* buffer, std::size_t size)
{
    std::string error;
    const std::optional<std::size_t> got = file_.readAt(buffer, size, begin_ + position_, error);
    if (!got)
        return -1;
    position_ += static_cast<std::int64_t>(*got);
    return static_cast<std::int64_t>(*got);
}

std::int64_t FileStream::seek(std::int64_t offset, int whence)
{
    std::int64_t position = offset;
    if (whence == SEEK_CUR) {
        position += position_;
    } else if (whence == SEEK_END) {
        struct stat info {};
        if (::fstat(file_.descriptor(), &info) != 0)
            return -1;
        position += info.st_size - begin_;
    } else if (whence != SEEK_SET) {
        return -1;
    }
    if (position < 0)
        return -1;
    position_ = position;
    return position;
}
