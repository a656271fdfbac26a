// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "harness/desktop.h"

namespace {

constexpr uid_t nobody = 65534;

// Everything under `folder`, as paths relative to it.
std::vector<std::string> listing(const std::string& folder)
{
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        entries.push_back(std::filesystem::relative(entry.path(), folder).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

// A folder of the test's that belongs to the unprivileged user alone.
void giveToNobody(const std::string& path)
{
    ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0) << path;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// The real program run as an unprivileged user, as a fresh account runs it:
// an empty home and a runtime folder of its own, and no ALSA device: only the
// server can play the file dragged from the stand-in file manager, which runs
// as the test's user.
class UnprivilegedDesktop : public DesktopDrop, public ::testing::WithParamInterface<DesktopServer> {
protected:
    UnprivilegedDesktop() : DesktopDrop(std::nullopt, GetParam()) {}

    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "running the player as another user takes root (CI runs the tests as root)";
        // The user cannot enter the build's folder when the clone is in a
        // private one, such as a home folder: it runs a copy.
        binary = copyForAnyUser(files);
        if (const std::string closed = folderClosedToOthers(binary); !closed.empty())
            GTEST_SKIP() << "the temporary folder is out of the unprivileged user's reach: " << closed
                         << " is closed to other users";
        giveToNobody(home.path());
        giveToNobody(runtime.path());
        std::filesystem::copy_file(testFile("cbr44_long.mp3").toStdString(), files.file("long.mp3"));
        // No ALSA device, so that only the server can play: ALSA's plugin for
        // it would otherwise connect on its own.
        std::ofstream(files.file("asound.conf")) << "# no devices\n";
    }

    // Where the server wants its cookie, the user has it, as a desktop
    // session leaves it: in ~/.config/pulse/cookie.
    void giveTheUserTheCookie()
    {
        const std::string config = home.file(".config");
        std::filesystem::create_directories(config + "/pulse");
        std::filesystem::copy_file(forAnyUser->cookie(), config + "/pulse/cookie");
        for (const std::string& path : {config, config + "/pulse", config + "/pulse/cookie"})
            ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0) << path;
    }

    void startAndDrop(const std::string& path)
    {
        PlayerLaunch launch;
        launch.binary = binary;
        launch.wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                          "env", "HOME=" + home.path(), "XDG_RUNTIME_DIR=" + runtime.path(),
                          "ALSA_CONFIG_PATH=" + files.file("asound.conf")};
        start(launch);
        dragPathOntoLabel(path);
    }

    const TempDir home;
    const TempDir runtime;
    const TempDir files;
    std::string binary;
};

TEST_P(UnprivilegedDesktop, PlaysADropAndWritesNothingInItsHome)
{
    if (GetParam() == DesktopServer::ForAnyUserWithCookie)
        giveTheUserTheCookie();
    const std::vector<std::string> before = listing(home.path());
    startAndDrop(files.file("long.mp3"));
    EXPECT_TRUE(waitForSound(0.1)) << readFile(log);
    EXPECT_LT(closeToExit(), 5s);
    EXPECT_EQ(listing(home.path()), before);
}

// Files the user may not read, which root's tests never meet: the file's own
// permissions, or a folder the user may not enter. Each gets its box at once.
class UnprivilegedRefusals : public UnprivilegedDesktop {};

TEST_P(UnprivilegedRefusals, AFileTheUserMayNotReadGetsItsBoxAtOnce)
{
    using std::filesystem::perms;
    const std::string unreadable = files.file("unreadable.mp3");
    std::filesystem::copy_file(files.file("long.mp3"), unreadable);
    std::filesystem::permissions(unreadable, perms::owner_read | perms::owner_write);
    const std::string closed = files.file("closed");
    std::filesystem::create_directory(closed);
    std::filesystem::copy_file(files.file("long.mp3"), closed + "/song.mp3");
    std::filesystem::permissions(closed, perms::owner_all);

    bool started = false;
    for (const std::string& path : {unreadable, closed + "/song.mp3"}) {
        SCOPED_TRACE(path);
        if (started) {
            dragPathOntoLabel(path);
        } else {
            startAndDrop(path);
            started = true;
        }
        const auto box = x11.findWindow("Merlow", 3s);
        ASSERT_TRUE(box.has_value()) << readFile(log);
        EXPECT_LT(std::chrono::steady_clock::now() - dropped, 1s);
        ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
        EXPECT_TRUE(x11.timeUntilGone(*box, 2s).has_value());
        EXPECT_TRUE(merlow->running());
    }
    EXPECT_LT(closeToExit(), 5s);
}

INSTANTIATE_TEST_SUITE_P(Servers, UnprivilegedRefusals, ::testing::Values(DesktopServer::ForAnyUser),
                         [](const auto&) { return "WantingNoCookie"; });

INSTANTIATE_TEST_SUITE_P(Servers, UnprivilegedDesktop,
                         ::testing::Values(DesktopServer::ForAnyUser, DesktopServer::ForAnyUserWithCookie),
                         [](const auto& info) {
                             return info.param == DesktopServer::ForAnyUser ? "WantingNoCookie"
                                                                            : "WantingTheCookieInItsHome";
                         });

} // namespace
