// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

struct mpg123_handle_struct;

struct Mpg123HandleDeleter {
    void operator()(mpg123_handle_struct* handle) const;
};

// A libmpg123 handle, closed and deleted with its owner.
using Mpg123Handle = std::unique_ptr<mpg123_handle_struct, Mpg123HandleDeleter>;

// A new handle, quiet and with `flags` (MPG123_* flags) added to its own, or
// nullptr with `error` set when libmpg123 cannot make one.
Mpg123Handle makeMpg123Handle(long flags, std::string& error);
