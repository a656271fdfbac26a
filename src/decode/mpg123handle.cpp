// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/mpg123handle.h"

#include <mpg123.h>

void Mpg123HandleDeleter::operator()(mpg123_handle_struct* handle) const
{
    mpg123_close(handle);
    mpg123_delete(handle);
}

Mpg123Handle makeMpg123Handle(long flags, std::string& error)
{
    int status = MPG123_OK;
    Mpg123Handle handle(mpg123_new(nullptr, &status));
    if (!handle) {
        error = std::string("libmpg123 cannot make a decoder: ") + mpg123_plain_strerror(status);
        return nullptr;
    }
    // Without MPG123_QUIET, libmpg123 writes what it finds wrong to stderr.
    if (mpg123_param(handle.get(), MPG123_ADD_FLAGS, flags | MPG123_QUIET, 0.0) != MPG123_OK) {
        error = std::string("libmpg123 refuses its flags: ") + mpg123_strerror(handle.get());
        return nullptr;
    }
    return handle;
}
