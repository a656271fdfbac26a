// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The format of the test files and of the recordings of the sink: CD audio.
inline constexpr int cdRate = 44100;
inline constexpr int cdChannels = 2;
