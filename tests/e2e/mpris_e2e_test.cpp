// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <iostream>

#include <QByteArray>
#include <gtest/gtest.h>

#include "mediacontrols.h"

namespace {

// How long after a command the output may still sound: playerctl's start and
// call, then the 30 ms until the sink hears it.
constexpr auto commandBound = 250ms;

class MediaKeys : public MediaControls {
protected:
    // Runs `playerctl -p merlow COMMAND`; how long the sound then took to
    // turn silent (or sounding).
    std::optional<std::chrono::milliseconds> soundAfter(const std::string& command, bool silences)
    {
        const auto sent = now();
        playerctl({command});
        return timeUntilSilent(silences, sent);
    }
};

TEST_F(MediaKeys, PlayerctlPlaysPausesAndStopsAsTheButtonsDo)
{
    ASSERT_TRUE(waitForPlayers(1)) << readFile(log);
    EXPECT_EQ(players(), std::vector<std::string>{"merlow"});
    EXPECT_EQ(playerctl({"status"}), "Stopped");

    // No file open: play does nothing, asked through playerctl (which sees
    // CanPlay false) or called straight.
    playerctl({"play"});
    EXPECT_TRUE(callPlayer("Play"));
    EXPECT_TRUE(callPlayer("PlayPause"));
    EXPECT_EQ(playerctl({"status"}), "Stopped");
    EXPECT_FALSE(firstSound(audio->read().channel(0)).has_value());

    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);
    EXPECT_EQ(waitForStatus("Playing"), "Playing");

    const struct {
        const char* command;
        bool silences;
        const char* status;
    } steps[] = {
        {"play-pause", true, "Paused"}, {"play-pause", false, "Playing"}, {"stop", true, "Stopped"},
        {"play-pause", false, "Playing"}, {"pause", true, "Paused"},      {"play", false, "Playing"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.command);
        const auto took = soundAfter(step.command, step.silences);
        ASSERT_TRUE(took.has_value());
        std::cout << step.command << " to " << (step.silences ? "silence: " : "sound: ") << took->count() << " ms\n";
        EXPECT_LE(*took, commandBound);
        EXPECT_EQ(playerctl({"status"}), step.status);
    }

    // Pause only acts while playing: a second one leaves it paused, and
    // stop while paused stops and rewinds.
    playerctl({"pause"});
    EXPECT_EQ(playerctl({"status"}), "Paused");
    EXPECT_TRUE(callPlayer("Pause"));
    EXPECT_EQ(playerctl({"status"}), "Paused");
    playerctl({"stop"});
    EXPECT_EQ(playerctl({"status"}), "Stopped");
    EXPECT_EQ(std::stod(playerctl({"position"})), 0.0);
    EXPECT_TRUE(callPlayer("Pause"));
    EXPECT_EQ(playerctl({"status"}), "Stopped");
    EXPECT_TRUE(newestSoundSilent());
}

TEST_F(MediaKeys, MetadataCarriesTheTagsAndTheLengthAndTheEndIsAnnounced)
{
    ASSERT_TRUE(waitForPlayers(1)) << readFile(log);
    EXPECT_EQ(playerctl({"metadata"}), "");
    // Watches what the player announces from here on.
    const std::string heard = dir.file("monitor.txt");
    const auto monitor = monitorSignals(heard);

    dragOntoLabel("id3v2.mp3");
    ASSERT_EQ(waitForStatus("Playing"), "Playing") << readFile(log);
    EXPECT_EQ(playerctl({"metadata", "xesam:title"}), "Test tone");
    EXPECT_EQ(playerctl({"metadata", "xesam:artist"}), "Merlow");
    EXPECT_NEAR(std::stod(playerctl({"metadata", "mpris:length"})) / 1e6, 2.0, 0.1);
    EXPECT_EQ(playerctl({"metadata", "xesam:url"}), "file://" + testFile("id3v2.mp3").toStdString());
    // An object path, which playerctl quotes: the first file this player opened.
    EXPECT_EQ(playerctl({"metadata", "mpris:trackid"}), "'/org/merlow/Merlow/Track/1'");

    // It plays to its end by itself, stops and rewinds, and says so unasked:
    // the new status, and the jump of the position back to the top.
    const std::string said = waitForOutput(heard, "\"Stopped\"", 4s);
    const auto ended = std::chrono::steady_clock::now() - dropped;
    ASSERT_NE(said.find("\"Stopped\""), std::string::npos) << said;
    std::cout << "drop to the end announced: " << std::chrono::duration<double>(ended).count() << " s\n";
    EXPECT_LT(ended, 3s);
    EXPECT_NE(waitForOutput(heard, "Seeked", 1s).find("Seeked"), std::string::npos);
    EXPECT_EQ(playerctl({"status"}), "Stopped");
    EXPECT_EQ(std::stod(playerctl({"position"})), 0.0);
}

TEST_F(MediaKeys, NothingIsAnnouncedWhileAFilePlaysOn)
{
    ASSERT_TRUE(waitForPlayers(1)) << readFile(log);
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);
    ASSERT_EQ(waitForStatus("Playing"), "Playing");

    const std::string heard = dir.file("monitor.txt");
    const auto monitor = monitorSignals(heard);
    std::this_thread::sleep_for(1s); // the span being measured, a hundred progress ticks
    playerctl({"pause"});
    ASSERT_EQ(waitForStatus("Paused"), "Paused");
    ASSERT_TRUE(callPlayer("Pause"));

    const std::string said = readFile(heard);
    std::size_t announcements = 0;
    for (std::size_t at = said.find("PropertiesChanged"); at != std::string::npos;
         at = said.find("PropertiesChanged", at + 1))
        ++announcements;
    // One: the pause.
    EXPECT_EQ(announcements, 1U) << said;
    EXPECT_NE(said.find("\"Paused\""), std::string::npos) << said;
}

TEST_F(MediaKeys, ANameThatIsNotUtf8SurvivesInTheUrl)
{
    ASSERT_TRUE(waitForPlayers(1)) << readFile(log);
    const TempDir files;
    const std::string oddName = files.file("\xFF\xFE latin-1 \xE9.mp3");
    std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), oddName);
    dragPathOntoLabel(oddName);
    ASSERT_EQ(waitForStatus("Playing"), "Playing") << readFile(log);

    const std::string url = playerctl({"metadata", "xesam:url"});
    ASSERT_TRUE(url.starts_with("file://")) << url;
    EXPECT_EQ(QByteArray::fromPercentEncoding(QByteArray::fromStdString(url.substr(7))).toStdString(), oddName);
    // No tag: the title is the file's name, as far as it reads.
    EXPECT_NE(playerctl({"metadata", "xesam:title"}).find(" latin-1 "), std::string::npos);
}

TEST_F(MediaKeys, TwoPlayersRunningAtOnceBothAppear)
{
    ASSERT_TRUE(waitForPlayers(1)) << readFile(log);
    const TestSink secondAudio;
    const std::string secondLog = artifact(testsOwn("second-merlow-stderr.txt"));
    const auto second = startPlayer(display, secondAudio, secondLog, launchOnBus(bus));
    ASSERT_TRUE(waitForPlayers(2)) << readFile(secondLog);
    EXPECT_EQ(players(), (std::vector<std::string>{"merlow", "merlow.instance" + std::to_string(second->pid())}));
}

} // namespace
