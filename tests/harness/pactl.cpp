// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/pactl.h"

#include <chrono>

#include "harness/process.h"

std::optional<std::string> pactl(const std::vector<std::string>& arguments,
                                 const std::vector<std::pair<std::string, std::string>>& clientEnvironment)
{
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = clientEnvironment;
    options.environment.emplace_back("LC_ALL", "C");
    ProgramOutput output = runToEnd("/usr/bin/pactl", options, std::chrono::seconds(5));
    if (output.status != 0)
        return std::nullopt;
    return std::move(output.out);
}
