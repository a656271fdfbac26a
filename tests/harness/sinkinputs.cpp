// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/sinkinputs.h"

#include <chrono>
#include <sstream>

#include "harness/pactl.h"

std::vector<SinkInputProperties> sinkInputs(const std::vector<std::pair<std::string, std::string>>& clientEnvironment)
{
    const std::string listed = pactl({"list", "sink-inputs"}, clientEnvironment).value_or("");

    // Each stream is a "Sink Input #N" block whose properties are indented
    // twice, as `key = "value"`.
    std::vector<SinkInputProperties> streams;
    std::istringstream lines(listed);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("Sink Input #")) {
            streams.emplace_back();
            continue;
        }
        const auto equals = line.find(" = \"");
        if (streams.empty() || !line.starts_with("\t\t") || equals == std::string::npos || !line.ends_with('"'))
            continue;
        const std::string::size_type valueStart = equals + 4;
        streams.back()[line.substr(2, equals - 2)] = line.substr(valueStart, line.size() - 1 - valueStart);
    }
    return streams;
}

std::string unlikePlayersMusic(const SinkInputProperties& stream, const std::string& title)
{
    const std::pair<const char*, std::string> expected[] = {
        {"media.name", title},
        {"media.role", "music"},
        {"application.name", "Merlow"},
        {"application.id", MERLOW_APP_ID},
        {"application.icon_name", MERLOW_APP_ID},
    };
    std::string differences;
    for (const auto& [key, value] : expected) {
        const auto found = stream.find(key);
        if (found != stream.end() && found->second == value)
            continue;
        differences.append(key).append(" is ");
        differences.append(found == stream.end() ? "nothing" : '"' + found->second + '"');
        differences.append(", not \"").append(value).append("\"\n");
    }
    return differences;
}
