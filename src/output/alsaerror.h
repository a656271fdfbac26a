// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// A call on ALSA's device that returned `status`: true where it succeeded,
// else its reason is in `error` and in the output's log.
bool alsaSucceeded(int status, const char* what, std::string& error);
