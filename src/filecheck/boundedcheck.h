// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>

#include <QString>

#include "filecheck/checkmp3header.h"

// CheckMP3Header on a thread of its own, while the calling thread's events
// go on being delivered: a file on storage that has stopped answering (a
// dead network share) holds nothing else. Throws FileCheckError as the check
// does, and with the reason "the file does not answer" when it has not
// finished within `limit`; the thread is then left to finish by itself, and
// a later check does not wait for it. Returns nothing, without a result,
// when the wait was ended from outside: the program is ending.
std::optional<TruthWord> CheckMP3HeaderWithin(const QString& FilePath, std::chrono::milliseconds limit);
