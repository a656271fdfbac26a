// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

#include <QImage>
#include <QLibraryInfo>
#include <QRect>
#include <gtest/gtest.h>

#include "harness/player.h"
#include "harness/process.h"
#include "harness/tempdir.h"
#include "harness/x11window.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;

// The colour the compositor fills its screen with.
constexpr QRgb screenColour = 0xff204060;

// Weston on a screen in memory, drawn by its CPU renderer so that its
// screenshots show what a user would see; without its panel, on a plain
// background, and with XWayland if asked.
class HeadlessWeston {
public:
    explicit HeadlessWeston(bool xwayland)
    {
        std::ofstream(dir_.file("weston.ini")) << "[shell]\npanel-position=none\nbackground-color=0xff204060\n"
                                                  "background-image=\nlocking=false\n[core]\nidle-time=0\n";
        ChildProcess::Options options;
        options.arguments = {"--backend=headless-backend.so", "--socket=" + socket, "--use-pixman", "--debug",
                             "--width=640", "--height=400", "--config=" + dir_.file("weston.ini")};
        if (xwayland)
            options.arguments.emplace_back("--xwayland");
        options.environment = {{"XDG_RUNTIME_DIR", runtime_.path()}};
        options.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
        options.stderrPath = dir_.file("weston.log");
        weston_ = std::make_unique<ChildProcess>("/usr/bin/weston", options);
        ready_ = waitUntil(
            [&] {
                return std::filesystem::exists(runtime_.file(socket)) && (!xwayland || !xDisplay().empty());
            },
            10s);
    }

    bool ready() const { return ready_; }
    std::string log() const { return readFile(dir_.file("weston.log")); }
    // The X display of its XWayland, as its log gives it.
    std::string xDisplay() const
    {
        const std::string said = log();
        const std::string line = "xserver listening on display ";
        const auto at = said.find(line);
        return at == std::string::npos ? std::string() : said.substr(at + line.size(), said.find('\n', at) - at - line.size());
    }
    Environment environment() const { return {{"XDG_RUNTIME_DIR", runtime_.path()}, {"WAYLAND_DISPLAY", socket}}; }

    // The whole screen, as weston-screenshooter takes it.
    QImage screenshot() const
    {
        const TempDir shots;
        ChildProcess::Options options;
        options.arguments = {"-c", "cd \"$0\" && exec weston-screenshooter", shots.path()};
        options.environment = environment();
        runToEnd("/bin/sh", options, 5s);
        for (const auto& entry : std::filesystem::directory_iterator(shots.path()))
            return QImage(QString::fromStdString(entry.path().string()));
        return {};
    }

    const std::string socket = "wayland-merlow";

private:
    TempDir runtime_;
    TempDir dir_;
    std::unique_ptr<ChildProcess> weston_;
    bool ready_ = false;
};

// The player on that compositor, on no session bus and no sound server.
Environment playerEnvironment(const HeadlessWeston& weston, const TempDir& dir)
{
    Environment environment = weston.environment();
    environment.insert(environment.end(), {{"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                                           {"PULSE_SERVER", "unix:" + dir.file("no-server")}});
    return environment;
}

int grey(const QImage& image, int x, int y)
{
    return qGray(image.pixel(x, y));
}

// Where something other than the compositor's background is drawn.
QRect drawnArea(const QImage& image)
{
    QRect drawn;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != screenColour)
                drawn |= QRect(x, y, 1, 1);
        }
    }
    return drawn;
}

QImage asImage(const X11Connection::Image& grabbed)
{
    QImage image(grabbed.width, grabbed.height, QImage::Format_RGB32);
    for (int y = 0; y < grabbed.height; ++y) {
        for (int x = 0; x < grabbed.width; ++x)
            image.setPixel(x, y, grabbed.at(x, y));
    }
    return image;
}

int darkPixels(const QImage& image, const QRect& area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            dark += grey(image, x, y) < 200 ? 1 : 0;
    }
    return dark;
}

// The controls where the window's table puts them (at 96 dpi, 15 twips to
// the pixel), with the client area's top left corner at `origin`: the
// buttons' left and right edges, with the gap after each; the path box's and
// the bar's top and bottom edges, with the window showing around them; the
// text of the buttons and the label.
void expectControlsInPlace(const QImage& image, QPoint origin)
{
    const auto at = [&](int x, int y) { return grey(image, origin.x() + x, origin.y() + y); };
    // The window's own grey, right of the label, where no control is.
    const int window = at(393, 1);
    const auto showsTheWindow = [&](int shade) { return std::abs(shade - window) <= 2; };
    for (const int left : {0, 80, 160, 240}) {
        SCOPED_TRACE(left);
        EXPECT_LT(at(left, 16), 215);
        EXPECT_LT(at(left + 72, 16), 215);
        EXPECT_TRUE(showsTheWindow(at(left + 73, 16)));
        EXPECT_GT(darkPixels(image, QRect(origin + QPoint(left + 10, 8), QSize(53, 17))), 10);
    }
    EXPECT_GT(darkPixels(image, QRect(origin + QPoint(313, 1), QSize(79, 39))), 20);
    for (const auto& [top, height] : {std::pair{40, 19}, {64, 17}}) {
        SCOPED_TRACE(top);
        EXPECT_TRUE(showsTheWindow(at(197, top - 1)));
        EXPECT_LT(at(197, top), 215);
        EXPECT_LT(at(197, top + height - 1), 215);
        EXPECT_TRUE(showsTheWindow(at(197, top + height)));
        EXPECT_LT(at(392, top + height / 2), 215);
        EXPECT_TRUE(showsTheWindow(at(393, top + height / 2)));
    }
}

// Qt's platform plugins as a machine without qt6-wayland has them: the
// program run in a mount namespace of its own, where the folder shows only
// copies of the others. Needs root, as CI runs.
class WithoutWaylandPlugin {
public:
    WithoutWaylandPlugin()
    {
        platforms_ = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms";
        for (const auto& entry : std::filesystem::directory_iterator(platforms_)) {
            if (entry.path().filename().string().find("wayland") == std::string::npos)
                std::filesystem::copy_file(entry.path(), plugins_.file(entry.path().filename().string()));
        }
    }
    std::vector<std::string> wrapper() const
    {
        return {"/usr/bin/unshare", "-m", "/bin/sh", "-c", "mount --bind \"$0\" \"$1\" && exec \"$2\"", plugins_.path(),
                platforms_};
    }
    static bool possible()
    {
        ChildProcess::Options options;
        options.arguments = {"-m", "true"};
        return runToEnd("/usr/bin/unshare", options, 5s).status == 0;
    }

private:
    TempDir plugins_;
    std::string platforms_;
};

// The program as built, run by `wrapper` if any; with no X display unless
// the environment names one.
std::unique_ptr<ChildProcess> startOnWayland(std::vector<std::string> wrapper, const Environment& environment,
                                             const std::string& stderrPath)
{
    ChildProcess::Options options;
    options.environment = environment;
    options.unset = {"QT_QPA_PLATFORM"};
    if (std::none_of(environment.begin(), environment.end(), [](const auto& entry) { return entry.first == "DISPLAY"; }))
        options.unset.emplace_back("DISPLAY");
    options.stderrPath = stderrPath;
    wrapper.emplace_back(MERLOW_BINARY);
    options.arguments.assign(wrapper.begin() + 1, wrapper.end());
    return std::make_unique<ChildProcess>(wrapper.front(), options);
}

TEST(WindowOnWayland, ComesUpNativeWithTheTablesClientSizeAndControls)
{
    const HeadlessWeston weston(false);
    ASSERT_TRUE(weston.ready()) << weston.log();
    const TempDir dir;
    // Without the title bar Qt draws on Wayland, what is drawn is the client
    // area alone.
    Environment environment = playerEnvironment(weston, dir);
    environment.emplace_back("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    const auto merlow = startOnWayland({}, environment, dir.file("stderr.txt"));

    QImage image;
    QRect drawn;
    // Shown once the label's text is drawn.
    EXPECT_TRUE(waitUntil(
        [&] {
            image = weston.screenshot();
            drawn = image.isNull() ? QRect() : drawnArea(image);
            return drawn.width() == 394 && darkPixels(image, QRect(drawn.topLeft() + QPoint(313, 1), QSize(79, 39))) > 20;
        },
        20s))
        << readFile(dir.file("stderr.txt"));
    image.save(QString::fromStdString(artifact("wayland-native-window.png")));
    EXPECT_EQ(drawn.size(), QSize(394, 82));
    expectControlsInPlace(image, drawn.topLeft());
    EXPECT_TRUE(merlow->running());
}

TEST(WindowOnWayland, WithoutQtsWaylandPluginItOpensOverXWaylandOrSaysWhyItCannot)
{
    if (!WithoutWaylandPlugin::possible())
        GTEST_SKIP() << "hiding Qt's Wayland plugin needs a mount namespace (root)";
    const WithoutWaylandPlugin withoutPlugin;
    {
        const HeadlessWeston weston(false);
        ASSERT_TRUE(weston.ready()) << weston.log();
        const TempDir dir;
        const auto merlow =
            startOnWayland(withoutPlugin.wrapper(), playerEnvironment(weston, dir), dir.file("stderr.txt"));
        EXPECT_EQ(merlow->waitForExit(10s), 1);
        EXPECT_EQ(readFile(dir.file("stderr.txt")),
                  "merlow: cannot open a window on Wayland: Qt's Wayland platform plugin is not installed (Debian's "
                  "package qt6-wayland), and there is no X server for XWayland windows (DISPLAY is not set)\n");
    }

    const HeadlessWeston weston(true);
    ASSERT_TRUE(weston.ready()) << weston.log();
    const TempDir dir;
    Environment environment = playerEnvironment(weston, dir);
    environment.emplace_back("DISPLAY", weston.xDisplay());
    const auto merlow = startOnWayland(withoutPlugin.wrapper(), environment, dir.file("stderr.txt"));
    X11Connection x11(weston.xDisplay());
    const auto window = x11.findWindow(playerCaption, 20s);
    ASSERT_TRUE(window.has_value()) << readFile(dir.file("stderr.txt"));
    EXPECT_EQ(x11.clientSize(*window).width, 394);
    EXPECT_EQ(x11.clientSize(*window).height, 82);
    // XWayland's positions are not those on the compositor's screen: the
    // client area is read from the X server, the screen kept to look at.
    QImage image;
    EXPECT_TRUE(waitUntil(
        [&] {
            image = asImage(x11.grab(*window));
            return !image.isNull() && darkPixels(image, QRect(313, 1, 79, 39)) > 20;
        },
        10s));
    weston.screenshot().save(QString::fromStdString(artifact("xwayland-window.png")));
    expectControlsInPlace(image, QPoint(0, 0));
}

// sway on an output in memory, with XWayland, run as an unprivileged user
// (it refuses root), as are the clients it is given. Everything they run is
// copied where that user can reach it.
class HeadlessSway {
public:
    HeadlessSway()
    {
        using std::filesystem::perms;
        for (const TempDir* dir : {&home_, &runtime_}) {
            EXPECT_EQ(chown(dir->path().c_str(), nobody, nobody), 0);
            std::filesystem::permissions(dir->path(), perms::owner_all);
        }
        std::filesystem::permissions(files_.path(), perms::owner_all | perms::others_read | perms::others_exec);
        std::ofstream(files_.file("config")) << "xwayland enable\n";
        for (const std::string& program :
             {std::string(MERLOW_BINARY), std::string(DRAGSOURCE_BINARY), std::string(KEYSTATEPROBE_BINARY)})
            std::filesystem::copy_file(program, files_.file(std::filesystem::path(program).filename()));

        ChildProcess::Options options;
        options.arguments = asUser({"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman",
                                    "/usr/bin/sway", "-c", files_.file("config")});
        options.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
        options.stderrPath = files_.file("sway.log");
        sway_ = std::make_unique<ChildProcess>("/usr/bin/setpriv", options);
        ready_ = waitUntil([&] { return !socket(".sock").empty() && !socket(".lock").empty(); }, 10s);
        if (!ready_)
            return;
        // XWayland starts when a client first comes; sway tells its own.
        const std::string said = home_.file("display");
        swaymsg({"exec", "echo $DISPLAY > " + said});
        ready_ = waitUntil([&] { return readFile(said).find(':') != std::string::npos; }, 10s);
        xDisplay_ = readFile(said).substr(0, readFile(said).find('\n'));
    }

    bool ready() const { return ready_; }
    std::string log() const { return readFile(files_.file("sway.log")); }
    const std::string& xDisplay() const { return xDisplay_; }
    std::string waylandDisplay() const
    {
        const std::string lock = socket(".lock");
        return lock.substr(0, lock.size() - 5);
    }

    // A program copied in, run as the user on this desktop.
    std::unique_ptr<ChildProcess> start(const std::string& program, const std::vector<std::string>& environment,
                                        const std::string& stderrPath, const std::string& stdoutPath = "/dev/null") const
    {
        ChildProcess::Options options;
        options.stdoutPath = stdoutPath;
        std::vector<std::string> command = environment;
        command.push_back(files_.file(program));
        options.arguments = asUser(command);
        options.unset = {"QT_QPA_PLATFORM"};
        options.stderrPath = stderrPath;
        return std::make_unique<ChildProcess>("/usr/bin/setpriv", options);
    }
    ProgramOutput swaymsg(const std::vector<std::string>& arguments) const
    {
        return runAsUser("/usr/bin/swaymsg", arguments);
    }
    ProgramOutput runAsUser(const std::string& program, const std::vector<std::string>& arguments) const
    {
        ChildProcess::Options options;
        options.arguments = asUser(withArguments(program, arguments));
        return runToEnd("/usr/bin/setpriv", options, 10s);
    }
    std::unique_ptr<ChildProcess> runAsUserAsync(const std::string& program,
                                                 const std::vector<std::string>& arguments) const
    {
        ChildProcess::Options options;
        options.arguments = asUser(withArguments(program, arguments));
        return std::make_unique<ChildProcess>("/usr/bin/setpriv", options);
    }
    std::string file(const std::string& name) const { return files_.file(name); }

private:
    static constexpr uid_t nobody = 65534;

    static std::vector<std::string> withArguments(const std::string& program, const std::vector<std::string>& arguments)
    {
        std::vector<std::string> command{program};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return command;
    }

    std::vector<std::string> asUser(const std::vector<std::string>& command) const
    {
        std::vector<std::string> arguments{"--reuid=65534", "--regid=65534", "--clear-groups", "env",
                                           "HOME=" + home_.path(), "XDG_RUNTIME_DIR=" + runtime_.path(),
                                           "DBUS_SESSION_BUS_ADDRESS=disabled:", "PULSE_SERVER=unix:" + home_.file("none")};
        if (ready_) {
            arguments.insert(arguments.end(), {"WAYLAND_DISPLAY=" + waylandDisplay(), "SWAYSOCK=" + socket(".sock")});
            if (!xDisplay_.empty())
                arguments.push_back("DISPLAY=" + xDisplay_);
        }
        arguments.insert(arguments.end(), command.begin(), command.end());
        return arguments;
    }
    // The first file in the runtime folder whose name ends so.
    std::string socket(const std::string& ending) const
    {
        std::error_code unlisted;
        for (const auto& entry : std::filesystem::directory_iterator(runtime_.path(), unlisted)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                return ending == ".sock" ? entry.path().string() : name;
        }
        return {};
    }

    TempDir home_;
    TempDir runtime_;
    TempDir files_;
    std::unique_ptr<ChildProcess> sway_;
    bool ready_ = false;
    std::string xDisplay_;
};

// On Wayland with no input devices to read and no shortcuts portal, the
// chords come through XWayland: heard while an X11 window has the focus, not
// while a native one has it, as the program says.
TEST(ChordsOnWayland, ThroughXWaylandAreHeardInAnX11WindowAndNotInANativeOne)
{
    const HeadlessSway sway;
    ASSERT_TRUE(sway.ready()) << sway.log();
    const auto native = sway.start("merlow", {}, sway.file("merlow.txt"));
    const auto x11Window = sway.start("dragsource", {"QT_QPA_PLATFORM=xcb"}, sway.file("dragsource.txt"));
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::string tree = sway.swaymsg({"-t", "get_tree"}).out;
            return tree.find("\"app_id\": \"org.merlow.merlow\"") != std::string::npos
                   && tree.find("\"class\": \"dragsource\"") != std::string::npos;
        },
        20s))
        << readFile(sway.file("merlow.txt")) << readFile(sway.file("dragsource.txt"));
    const std::string said = readFile(sway.file("merlow.txt"));
    EXPECT_NE(said.find("merlow: the Caps Lock chords are heard only while an X11 window has the focus"),
              std::string::npos)
        << said;

    // The key state as the program builds it, read as the desktop's user.
    const auto probe = sway.start("keystateprobe", {}, "/dev/null", sway.file("probe.txt"));
    ASSERT_TRUE(waitUntil([&] { return readFile(sway.file("probe.txt")).find("said: ") != std::string::npos; }, 5s));
    EXPECT_NE(readFile(sway.file("probe.txt")).find("heard only while an X11 window has the focus"), std::string::npos)
        << readFile(sway.file("probe.txt"));
    const auto heard = [&] { return readFile(sway.file("probe.txt")).find("down") != std::string::npos; };
    // Caps Lock and A held 600 ms in the window with the focus; the first key
    // injected is lost.
    const std::vector<std::string> chord{"-k", "Shift_L", "-P", "Caps_Lock", "-P", "a", "-s", "600", "-p", "a",
                                         "-p", "Caps_Lock"};

    ASSERT_EQ(sway.swaymsg({"[app_id=\"org.merlow.merlow\"]", "focus"}).status, 0);
    auto typed = sway.runAsUserAsync("/usr/bin/wtype", chord);
    EXPECT_EQ(typed->waitForExit(5s), 0);
    // Held 600 ms, a chord heard would have been printed long before; a
    // few more of the probe's samples, for one that came late.
    runEventsFor(100ms);
    EXPECT_FALSE(heard()) << "heard with the native window focused";

    ASSERT_EQ(sway.swaymsg({"[class=\"dragsource\"]", "focus"}).status, 0);
    typed = sway.runAsUserAsync("/usr/bin/wtype", chord);
    EXPECT_TRUE(waitUntil(heard, 5s)) << "not heard with the X11 window focused";
    EXPECT_EQ(typed->waitForExit(5s), 0);
    EXPECT_TRUE(waitUntil([&] { return readFile(sway.file("probe.txt")).find("down\nup\n") != std::string::npos; },
                          2s));
}

} // namespace
