// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "harness/labeldrag.h"
#include "harness/pcm.h"
#include "harness/player.h"
#include "harness/soundserver.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"
#include "support/cdaudio.h"
#include "support/testdata.h"
#include "support/poll.h"

using namespace std::chrono_literals;

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
class UnprivilegedDesktop : public ::testing::TestWithParam<SoundServer::Clients> {
protected:
    UnprivilegedDesktop() : server(GetParam()) {}

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
        server.openToAllUsers();
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
        std::filesystem::copy_file(server.cookie(), config + "/pulse/cookie");
        for (const std::string& path : {config, config + "/pulse", config + "/pulse/cookie"})
            ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0) << path;
    }

    // The running test's own, for the two run side by side.
    static std::string ownLogName()
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        return "unprivileged-" + name + "-merlow-stderr.txt";
    }

    void startAndDrop(const std::string& path)
    {
        PlayerLaunch launch;
        launch.binary = binary;
        launch.wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                          "env", "HOME=" + home.path(), "XDG_RUNTIME_DIR=" + runtime.path(),
                          "ALSA_CONFIG_PATH=" + files.file("asound.conf")};
        merlow = startPlayer(display, server.clientEnvironment(), log, launch);
        player = x11.findWindow(playerCaption, 30s);
        ASSERT_TRUE(player) << describePlayer(*merlow, log);
        drop(path);
    }

    void drop(const std::string& path)
    {
        drag.source.reset(); // its window would be found instead of the new one's
        drag = dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11, xdotool, *player, {path},
                             files.file("source-out.txt"));
        ASSERT_TRUE(drag.dragged);
    }

    // Whether sound reaches the server's sink within a few seconds.
    bool soundHeard(const SoundServer::Recording& recording) const
    {
        const auto sounded = [&] { return firstSound(readPcm(recording.path(), cdRate, cdChannels).channel(0)).has_value(); };
        return pollUntil(sounded, 5s, 10ms).has_value();
    }

    void closeAndWait()
    {
        x11.requestClose(*player);
        EXPECT_EQ(merlow->waitForExit(5s), 0) << readFile(log);
    }

    SoundServer server;
    const VirtualDisplay display;
    const TempDir home;
    const TempDir runtime;
    const TempDir files;
    std::string binary;
    const std::string log = artifact(ownLogName());
    std::unique_ptr<ChildProcess> merlow;
    X11Connection x11{display.name()};
    const Xdotool xdotool{display.name()};
    std::optional<Window> player;
    LabelDrag drag;
};

TEST_P(UnprivilegedDesktop, PlaysADropAndWritesNothingInItsHome)
{
    if (GetParam() == SoundServer::Clients::WithCookie)
        giveTheUserTheCookie();
    const std::vector<std::string> before = listing(home.path());
    const SoundServer::Recording recording(server, files.file("heard.raw"));
    startAndDrop(files.file("long.mp3"));
    EXPECT_TRUE(soundHeard(recording)) << readFile(log);
    closeAndWait();
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
            drop(path);
        } else {
            startAndDrop(path);
            started = true;
        }
        const auto dropped = std::chrono::steady_clock::now();
        const auto box = x11.findWindow("Merlow", 3s);
        ASSERT_TRUE(box.has_value()) << readFile(log);
        EXPECT_LT(std::chrono::steady_clock::now() - dropped, 1s);
        ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
        EXPECT_TRUE(x11.timeUntilGone(*box, 2s).has_value());
        EXPECT_TRUE(merlow->running());
    }
    closeAndWait();
}

INSTANTIATE_TEST_SUITE_P(Servers, UnprivilegedRefusals, ::testing::Values(SoundServer::Clients::Anonymous),
                         [](const auto&) { return "WantingNoCookie"; });

INSTANTIATE_TEST_SUITE_P(Servers, UnprivilegedDesktop,
                         ::testing::Values(SoundServer::Clients::Anonymous, SoundServer::Clients::WithCookie),
                         [](const auto& info) {
                             return info.param == SoundServer::Clients::Anonymous ? "WantingNoCookie"
                                                                                  : "WantingTheCookieInItsHome";
                         });

} // namespace
