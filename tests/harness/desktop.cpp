// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/desktop.h"

#include <algorithm>
#include <iostream>

DesktopDrop::DesktopDrop(const std::optional<PlayerLaunch>& launch, DesktopServer server)
    : server(server), log(artifact(testsOwn("merlow-stderr.txt"))), x11(display.name())
{
    switch (server) {
    case DesktopServer::PulseAudio:
        audio = std::make_unique<TestSink>();
        break;
    case DesktopServer::PipeWire:
        pipewire = std::make_unique<PipeWireServer>();
        audio = std::make_unique<TestSink>(pipewire->clientEnvironment());
        break;
    case DesktopServer::Wedged:
        wedged = std::make_unique<SilentServer>();
        break;
    case DesktopServer::ForAnyUser:
    case DesktopServer::ForAnyUserWithCookie:
        forAnyUser = std::make_unique<SoundServer>(server == DesktopServer::ForAnyUser ? SoundServer::Clients::Anonymous
                                                                                       : SoundServer::Clients::WithCookie);
        forAnyUser->openToAllUsers();
        audio = std::make_unique<TestSink>(forAnyUser->clientEnvironment());
        break;
    }
    if (launch)
        start(*launch);
}

void DesktopDrop::start(const PlayerLaunch& launch)
{
    merlow = startPlayer(display, soundEnvironment(), log, launch);
}

std::vector<std::pair<std::string, std::string>> DesktopDrop::soundEnvironment() const
{
    if (pipewire)
        return pipewire->desktopEnvironment();
    if (wedged)
        return wedged->clientEnvironment();
    if (forAnyUser)
        return forAnyUser->clientEnvironment();
    return TestSink::environment();
}

std::string DesktopDrop::testsOwn(const std::string& name)
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string own = std::string(test->test_suite_name()) + "." + test->name() + "-" + name;
    std::replace(own.begin(), own.end(), '/', '-');
    return own;
}

void DesktopDrop::dragSourceOntoLabel(std::vector<std::string> arguments)
{
    player = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(player) << describePlayer(*merlow, log);
    source.reset(); // its window would be found instead of the new one's
    LabelDrag drag = ::dragOntoLabel(DRAGSOURCE_BINARY, display.name(), x11, xdotool, *player, std::move(arguments),
                                     dir.file("source-out.txt"));
    source = std::move(drag.source);
    sourceWindow = drag.sourceWindow;
    ASSERT_TRUE(drag.dragged) << readFile(log);
    dropped = std::chrono::steady_clock::now();
}

void DesktopDrop::click(Spot at)
{
    const auto window = x11.screenPosition(*player);
    ASSERT_TRUE(xdotool.moveTo(window.x + at.x, window.y + at.y));
    ASSERT_TRUE(xdotool.press());
    ASSERT_TRUE(xdotool.release());
}

std::optional<std::chrono::milliseconds> DesktopDrop::timedClick(Spot button)
{
    const auto window = x11.screenPosition(*player);
    EXPECT_TRUE(xdotool.moveTo(window.x + button.x, window.y + button.y));
    // The button's face, its edges left out, as drawn under the pointer once
    // it has settled.
    const auto face = [&] { return x11.grab(*player, {button.x - 28, button.y - 10}, {56, 20}).pixels; };
    auto before = face();
    pollUntil(
        [&] {
            auto now = face();
            const bool settled = now == before;
            before = std::move(now);
            return settled;
        },
        1s, 50ms);
    const auto pressing = std::chrono::steady_clock::now();
    EXPECT_TRUE(xdotool.press());
    const bool drawn = pollUntil([&] { return face() != before; }, 1s).has_value();
    const auto answer =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pressing);
    EXPECT_TRUE(xdotool.release());
    return drawn ? std::optional(answer) : std::nullopt;
}

std::chrono::milliseconds DesktopDrop::closeToExit()
{
    const auto closing = std::chrono::steady_clock::now();
    x11.requestClose(*player);
    EXPECT_EQ(merlow->waitForExit(10s), 0) << readFile(log);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - closing);
    std::cout << "close to exit: " << took.count() << " ms\n";
    return took;
}

std::optional<std::size_t> DesktopDrop::waitForSound(double seconds) const
{
    std::optional<std::size_t> start;
    const auto played = [&] {
        if (!start)
            start = firstSound(audio->read().channel(0));
        return start && audio->framesRecorded() >= *start + static_cast<std::size_t>(seconds * cdRate);
    };
    return pollUntil(played, 10s) ? start : std::nullopt;
}

bool DesktopDrop::newestSoundSilent() const
{
    const std::size_t tail = cdRate / 50;
    const std::size_t written = audio->framesRecorded();
    const auto pcm = audio->read(written > tail ? written - tail : 0).channel(0);
    return !firstSound(pcm).has_value();
}

std::optional<std::chrono::milliseconds> DesktopDrop::timeUntilSilent(bool silent, Moment from) const
{
    const auto since =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from.time);
    if (!pollUntil([&] { return newestSoundSilent() == silent; }, 1s - since))
        return std::nullopt;
    const auto pcm = audio->read(from.frame).channel(0);
    std::optional<std::size_t> turned;
    if (!silent)
        turned = firstSound(pcm);
    else if (const auto stretches = silentStretches(pcm, cdRate / 50); !stretches.empty())
        turned = stretches.front().start;
    if (!turned)
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<long>(*turned * 1000 / cdRate));
}

double DesktopDrop::newestTone() const
{
    const std::size_t span = cdRate / 4;
    const std::size_t written = audio->framesRecorded();
    const auto pcm = audio->read(written > span ? written - span : 0).channel(0);
    return toneFrequency(pcm, cdRate, 0, pcm.size());
}

std::string DesktopDrop::dragResult() const
{
    pollUntil([&] { return !sourceSaid().empty(); }, 3s, 5ms);
    return sourceSaid();
}
