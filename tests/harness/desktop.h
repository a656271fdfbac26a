// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "harness/labeldrag.h"
#include "harness/pipewireserver.h"
#include "harness/player.h"
#include "harness/silentserver.h"
#include "harness/soundserver.h"
#include "harness/testsink.h"
#include "harness/x11window.h"
#include "harness/xdotool.h"
#include "support/testdata.h"
#include "support/poll.h"
#include "support/cdaudio.h"

using namespace std::chrono_literals;

// The sound server the player finds, as a desktop runs it.
enum class DesktopServer {
    // The test process's PulseAudio, named by its socket.
    PulseAudio,
    // PipeWire with its PulseAudio service, found by the runtime folder alone.
    PipeWire,
    // One that accepted the connection and never answers.
    Wedged,
    // A PulseAudio of the test's own whose socket every user reaches, for a
    // player run as another user: letting in any client, or only one that
    // has its cookie.
    ForAnyUser,
    ForAnyUserWithCookie,
};

// The player and a stand-in file manager side by side on a virtual display,
// playing through the server asked for.
class DesktopDrop : public ::testing::Test {
protected:
    // Starts the player as `launch` says; without one, start() does.
    explicit DesktopDrop(const std::optional<PlayerLaunch>& launch = PlayerLaunch{},
                         DesktopServer server = DesktopServer::PulseAudio);

    void start(const PlayerLaunch& launch);

    // An artifact name of the running test's own, for tests run side by side.
    static std::string testsOwn(const std::string& name);

    // Drags a generated test file from the source window onto the middle of
    // the label.
    void dragOntoLabel(const char* file) { dragPathOntoLabel(testFile(file).toStdString()); }
    void dragPathOntoLabel(const std::string& path) { dragSourceOntoLabel({path}); }
    // Drags what the source is told to offer (its command line) onto the label.
    void dragSourceOntoLabel(std::vector<std::string> arguments);

    // A point of the player's window, and the buttons' middles as the window
    // lays them out.
    struct Spot {
        int x;
        int y;
    };
    static constexpr Spot playButton{36, 16};
    static constexpr Spot pauseButton{116, 16};
    static constexpr Spot stopButton{196, 16};
    // A click of the pointer at `at` in the player's window.
    void click(Spot at);
    void clickPlay() { click(playButton); }
    void clickPause() { click(pauseButton); }
    void clickStop() { click(stopButton); }
    // Clicks `button` as click() does, and times the window's answer as the
    // user sees it: from the press until the button is drawn pressed.
    // Nothing within a second.
    std::optional<std::chrono::milliseconds> timedClick(Spot button);

    // Closes the window as a window manager's close button does; the time
    // until the program has ended, with status 0.
    std::chrono::milliseconds closeToExit();

    // Waits until `seconds` of sound have been played; returns where the sound began.
    std::optional<std::size_t> waitForSound(double seconds) const;
    // Whether the newest 20 ms recorded from the sink are silent.
    bool newestSoundSilent() const;
    // A moment of the test, by the clock and by the sink's recording.
    struct Moment {
        std::chrono::steady_clock::time_point time;
        std::size_t frame;
    };
    Moment now() const { return {std::chrono::steady_clock::now(), audio->framesRecorded()}; }
    // How long after `from` the sink's sound turned silent (or sounding) for
    // 20 ms, timed by the recording, so that the wait for the 20 ms and the
    // polling do not count; the recorder's own delay at `from` does. Nothing
    // within a second.
    std::optional<std::chrono::milliseconds> timeUntilSilent(bool silent, Moment from) const;
    // The pitch of the newest quarter second the player wrote.
    double newestTone() const;

    std::string sourceSaid() const { return readFile(dir.file("source-out.txt")); }
    // What the source's drag ended with, once it has said.
    std::string dragResult() const;

    const VirtualDisplay display;
    const TempDir dir;
    const DesktopServer server;
    // The server asked for, where it is not the test process's own.
    std::unique_ptr<PipeWireServer> pipewire;
    std::unique_ptr<SilentServer> wedged;
    std::unique_ptr<SoundServer> forAnyUser;
    // What the server's sink plays, from the fixture's start on; none from
    // the server that never answers.
    std::unique_ptr<TestSink> audio;
    const std::string log;
    std::unique_ptr<ChildProcess> merlow;
    X11Connection x11;
    const Xdotool xdotool{display.name()};
    std::unique_ptr<ChildProcess> source;
    std::optional<Window> player;
    std::optional<Window> sourceWindow;
    std::chrono::steady_clock::time_point dropped;

private:
    // What the player is given to find the server by.
    std::vector<std::pair<std::string, std::string>> soundEnvironment() const;
};
