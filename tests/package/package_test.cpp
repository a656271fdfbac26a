// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <QImage>
#include <gtest/gtest.h>

#include "harness/player.h"
#include "harness/tempdir.h"
#include "harness/x11window.h"
#include "window/messagebox.h"

using namespace std::chrono_literals;

namespace {

const std::string appId = MERLOW_APP_ID;

struct Output {
    std::optional<int> status;
    std::string text;
};

Output run(const std::string& program, const std::vector<std::string>& arguments)
{
    ChildProcess::Options options;
    options.arguments = arguments;
    const ProgramOutput output = runToEnd(program, options, 60s);
    return {output.status, output.out + output.err};
}

// The keys of a desktop entry's main group.
std::map<std::string, std::string> desktopEntry(const std::string& path)
{
    std::map<std::string, std::string> keys;
    std::ifstream in(path);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(in, line)) {
        if (line.starts_with('['))
            inMainGroup = line == "[Desktop Entry]";
        else if (const auto eq = line.find('='); inMainGroup && eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

// Package names in a Depends field, without versions or alternatives' bars.
std::set<std::string> packageNames(const std::string& depends)
{
    std::set<std::string> names;
    std::string item;
    std::istringstream in(depends);
    while (std::getline(in, item, ',')) {
        std::istringstream alternatives(item);
        std::string name;
        while (alternatives >> name) {
            if (name != "|" && !name.starts_with('(') && !name.ends_with(')'))
                names.insert(name);
        }
    }
    return names;
}

// The libraries the binary names in its dynamic section.
std::vector<std::string> neededLibraries(const std::string& binary)
{
    const Output dynamic = run("/usr/bin/readelf", {"--dynamic", binary});
    std::vector<std::string> needed;
    std::istringstream in(dynamic.text);
    std::string line;
    while (std::getline(in, line)) {
        const auto open = line.find("Shared library: [");
        if (line.find("(NEEDED)") != std::string::npos && open != std::string::npos) {
            const auto start = open + std::string_view("Shared library: [").size();
            needed.push_back(line.substr(start, line.find(']', start) - start));
        }
    }
    return needed;
}

// The installed packages that hold a file of that name, as dpkg knows them.
std::set<std::string> packagesHolding(const std::string& fileName)
{
    const Output owners = run("/usr/bin/dpkg-query", {"--search", "*/" + fileName});
    std::set<std::string> packages;
    std::istringstream in(owners.text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream names(line.substr(0, line.find(": ")));
        std::string name;
        while (std::getline(names >> std::ws, name, ','))
            packages.insert(name.substr(0, name.find(':')));
    }
    return packages;
}

// The .deb that the package fixture built, unpacked into a scratch root as
// dpkg would install it.
class InstalledPackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Output unpacked = run("/usr/bin/dpkg-deb", {"--extract", deb, root.path()});
        ASSERT_EQ(unpacked.status, 0) << unpacked.text;
        entry = desktopEntry(installed("share/applications/" + appId + ".desktop"));
    }

    std::string installed(const std::string& path) const { return root.path() + "/usr/" + path; }

    const std::string deb = MERLOW_PACKAGE;
    const TempDir root;
    std::map<std::string, std::string> entry;
};

TEST_F(InstalledPackage, DependsOnThePackageOfEveryLibraryTheBinaryLinks)
{
    const Output depends = run("/usr/bin/dpkg-deb", {"--field", deb, "Depends"});
    ASSERT_EQ(depends.status, 0) << depends.text;
    // Versioned, as dpkg-shlibdeps writes them.
    for (const char* library : {"libmpg123-0 (>= ", "libpulse0 (>= ", "libasound2 (>= ", "libqt6widgets6 (>= "})
        EXPECT_NE(depends.text.find(library), std::string::npos) << library << " in " << depends.text;

    const std::set<std::string> named = packageNames(depends.text);
    const std::vector<std::string> needed = neededLibraries(installed("bin/merlow"));
    ASSERT_GE(needed.size(), 5U);
    for (const std::string& library : needed) {
        const std::set<std::string> holders = packagesHolding(library);
        EXPECT_TRUE(std::any_of(holders.begin(), holders.end(), [&](const auto& p) { return named.contains(p); }))
            << library << " is in none of " << depends.text;
    }
}

TEST_F(InstalledPackage, PutsTheEntryMetainfoAndIconsWhereDesktopsLook)
{
    namespace fs = std::filesystem;
    EXPECT_TRUE(fs::is_regular_file(installed("share/metainfo/" + appId + ".metainfo.xml")));
    EXPECT_TRUE(fs::is_regular_file(installed("share/icons/hicolor/scalable/apps/" + appId + ".svg")));
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString name = QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId.c_str());
        const QImage icon(QString::fromStdString(installed(name.toStdString())));
        ASSERT_EQ(icon.size(), QSize(size, size)) << name.toStdString();
        // The tile covers most of the square.
        int opaque = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x)
                opaque += qAlpha(icon.pixel(x, y)) == 255 ? 1 : 0;
        }
        EXPECT_GT(opaque, size * size / 2) << name.toStdString();
    }
}

TEST_F(InstalledPackage, EntryStartsTheInstalledBinaryUnderTheMessageBoxTitle)
{
    EXPECT_EQ(entry["Type"], "Application");
    EXPECT_EQ(entry["Name"], applicationTitle().toStdString());
    // A launcher only: the program takes no arguments, so no field codes.
    EXPECT_EQ(entry["Exec"].find_first_of(" %"), std::string::npos) << entry["Exec"];
    EXPECT_TRUE(std::filesystem::is_regular_file(installed("bin/" + entry["Exec"]))) << entry["Exec"];
    EXPECT_EQ(entry["Icon"], appId);
}

TEST_F(InstalledPackage, PassesAppStreamsChecksOfTheInstalledTree)
{
    const Output validated = run("/usr/bin/appstreamcli", {"validate-tree", "--no-net", "--pedantic", root.path()});
    EXPECT_EQ(validated.status, 0) << validated.text;
    // Pedantic hints leave the status at 0.
    EXPECT_EQ(validated.text.find("P: "), std::string::npos) << validated.text;
}

TEST_F(InstalledPackage, HasAManualPageThatManReadsWithoutAWarning)
{
    // Compressed, as Debian installs manual pages.
    const std::string page = installed("share/man/man1/merlow.1.gz");
    ASSERT_TRUE(std::filesystem::is_regular_file(page)) << page;
    const Output read = run("/usr/bin/man", {"--warnings", "--local-file", page});
    EXPECT_EQ(read.status, 0) << read.text;
    EXPECT_NE(read.text.find("writes no files"), std::string::npos) << read.text;
    // What groff warns of goes to stderr, which is read too.
    EXPECT_EQ(read.text.find("warning:"), std::string::npos) << read.text;
}

TEST_F(InstalledPackage, RunsAndShowsItsWindowAsTheEntrysClassWithTheIcon)
{
    const VirtualDisplay display;
    const TestSink audio;
    const std::string log = artifact("installed-merlow-stderr.txt");
    PlayerLaunch launch;
    launch.binary = installed("bin/merlow");
    // The scratch root as one more place for data, as /usr/share is.
    launch.environment = {{"XDG_DATA_DIRS", installed("share") + ":/usr/share"}};
    const auto merlow = startPlayer(display, audio, log, launch);

    X11Connection x11(display.name());
    const auto window = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(window.has_value()) << describePlayer(*merlow, log);
    EXPECT_EQ(x11.clientSize(*window).width, 394);
    EXPECT_EQ(x11.windowClass(*window), entry["StartupWMClass"]);
    EXPECT_TRUE(x11.hasProperty(*window, "_NET_WM_ICON"));

    x11.requestClose(*window);
    EXPECT_EQ(merlow->waitForExit(2s), 0);
}

} // namespace
