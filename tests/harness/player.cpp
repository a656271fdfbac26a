// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/player.h"

#include <algorithm>
#include <filesystem>

namespace {

std::string runtimeDir()
{
    std::string dir = artifact("runtime");
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    return dir;
}

} // namespace

std::unique_ptr<ChildProcess> startPlayer(const VirtualDisplay& display, const TestSink& /*audio*/,
                                          const std::string& stderrPath, const PlayerLaunch& launch)
{
    // One sink serves the whole test process.
    return startPlayer(display, TestSink::environment(), stderrPath, launch);
}

std::unique_ptr<ChildProcess> startPlayer(const VirtualDisplay& display,
                                          const std::vector<std::pair<std::string, std::string>>& soundEnvironment,
                                          const std::string& stderrPath, const PlayerLaunch& launch)
{
    ChildProcess::Options options;
    options.environment = soundEnvironment;
    options.environment.emplace_back("DISPLAY", display.name());
    options.unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
    // As on a desktop session, the runtime folder exists: the sound server's
    // own where the player is to find the server there.
    const bool runtimeGiven = std::any_of(soundEnvironment.begin(), soundEnvironment.end(),
                                          [](const auto& variable) { return variable.first == "XDG_RUNTIME_DIR"; });
    if (!runtimeGiven)
        options.environment.emplace_back("XDG_RUNTIME_DIR", runtimeDir());
    options.environment.insert(options.environment.end(), launch.environment.begin(), launch.environment.end());
    options.stderrPath = stderrPath;
    if (launch.wrapper.empty())
        return std::make_unique<ChildProcess>(launch.binary, options);
    options.arguments.assign(launch.wrapper.begin() + 1, launch.wrapper.end());
    options.arguments.push_back(launch.binary);
    return std::make_unique<ChildProcess>(launch.wrapper.front(), options);
}

std::string copyForAnyUser(const TempDir& dir, const std::string& binary)
{
    using std::filesystem::perms;
    const perms everyoneEnters = perms::owner_all | perms::group_read | perms::group_exec | perms::others_read
                                 | perms::others_exec;
    std::filesystem::permissions(dir.path(), everyoneEnters);
    const std::string copy = dir.file(std::filesystem::path(binary).filename().string());
    std::filesystem::copy_file(binary, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, everyoneEnters);
    return copy;
}

std::string folderClosedToOthers(const std::string& path)
{
    using std::filesystem::perms;
    for (auto folder = std::filesystem::path(path).parent_path(); !folder.empty();
         folder = folder.parent_path()) {
        if ((std::filesystem::status(folder).permissions() & perms::others_exec) == perms::none)
            return folder.string();
        if (folder == folder.root_path())
            break;
    }
    return {};
}

std::string artifact(const std::string& name)
{
    std::filesystem::create_directories(MERLOW_ARTIFACT_DIR);
    return std::string(MERLOW_ARTIFACT_DIR "/") + name;
}

std::string describePlayer(ChildProcess& player, const std::string& stderrPath)
{
    std::string description = "its stderr:\n" + readFile(stderrPath);
    if (!player.running())
        return "the player has exited; " + description;
    ChildProcess::Options options;
    options.arguments = {"-batch", "-p", std::to_string(player.pid()), "-ex", "thread apply all bt"};
    const ProgramOutput stacks = runToEnd("/usr/bin/gdb", options, std::chrono::seconds(60));
    return "the player runs; its threads:\n" + stacks.out + description;
}
