// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <stdexcept>

#include <QString>

// A truth value as a 16-bit word: true is all bits set.
using TruthWord = std::int16_t;
inline constexpr TruthWord TruthTrue = -1;
inline constexpr TruthWord TruthFalse = 0;

// The file could not be opened or read; what() gives the reason.
class FileCheckError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether a dropped file may go to the engine: its first byte is 0xFF, the
// start of an MPEG audio frame, or it begins with well-formed ID3v2 tags,
// one after another, followed by 0xFF. Throws FileCheckError when the file cannot be read; only
// regular files are opened, without blocking.
TruthWord CheckMP3Header(const QString& FilePath);
