// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "output/applicationidentity.h"
#include "output/audiooutput.h"

// Where the program plays: the desktop's sound server where one answers,
// ALSA's default device where none does. The server's mixer shows the
// stream as the identity's.
std::unique_ptr<AudioOutput> systemOutput(const ApplicationIdentity& identity);
