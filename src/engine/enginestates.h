// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The integer codes the engine reports for its open and play states.
namespace OpenState {
inline constexpr int Closed = 0;
inline constexpr int Opening = 5;
inline constexpr int Open = 6;
}

namespace PlayState {
inline constexpr int Stopped = 0;
inline constexpr int Paused = 1;
inline constexpr int Playing = 2;
}
