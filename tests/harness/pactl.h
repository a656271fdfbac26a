// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// What pactl printed, run with `arguments` as a client with this environment
// added to the test's own (PulseAudio's or PipeWire's PulseAudio service), in
// the C locale, whose headings are untranslated; nothing when it failed or
// did not end within 5 s.
std::optional<std::string> pactl(const std::vector<std::string>& arguments,
                                 const std::vector<std::pair<std::string, std::string>>& clientEnvironment = {});
