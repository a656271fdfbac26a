// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// The properties of each stream playing into a sound server's sinks, as
// `pactl list sink-inputs` shows them to a client with this environment
// (PulseAudio's or PipeWire's PulseAudio service): key to value.
using SinkInputProperties = std::map<std::string, std::string>;
std::vector<SinkInputProperties> sinkInputs(const std::vector<std::pair<std::string, std::string>>& clientEnvironment);

// How the stream differs from the player's music as the desktop's mixer
// should see it: named `title`, of role music, under the application's name,
// id and icon. Empty where it does not.
std::string unlikePlayersMusic(const SinkInputProperties& stream, const std::string& title);
