// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/regularfile.h"

// ID3v2 tags, which come before the audio of most MP3 files. One rule tells
// a tag, for the drop's check, the audio region and the track tags alike: a
// header of "ID3", a major version of 2 to 4, a revision other than 0xFF and
// a size of four seven-bit bytes. Bytes that break it are no tag at all, and
// frames are looked for in them.

// The bytes of the tag that starts at `offset`, its header and footer
// included: 0 when no tag starts there, nothing with `error` set when the
// file cannot be read.
std::optional<std::int64_t> id3v2TagBytesAt(const RegularFile& file, std::int64_t offset, std::string& error);

// Where the tags that follow one another from the start of the file end: 0
// when it starts with none. It may lie past the file's end, where the last
// tag's size says so.
std::optional<std::int64_t> id3v2TagsEnd(const RegularFile& file, std::string& error);
