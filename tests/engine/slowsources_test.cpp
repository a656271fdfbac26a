// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <memory>
#include <thread>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/enginetestsupport.h"
#include "engine/fakeoutput.h"
#include "engine/mediaplayer.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"

// Sources that take too long: an open that would last, a decoder that stalls.

using namespace std::chrono_literals;

namespace {

// An open that lasts until it is abandoned, for "slow.mp3"; others open as
// usual.
std::unique_ptr<SampleSource> openSlowly(const std::string& path, std::string& error, std::stop_token cancel)
{
    if (path != "slow.mp3")
        return openDecoder(path, error, std::move(cancel));
    const auto start = std::chrono::steady_clock::now();
    while (!cancel.stop_requested() && secondsSince(start) < 20.0)
        std::this_thread::sleep_for(1ms);
    error = "cancelled";
    return nullptr;
}

// However long an open would take, a new file or the engine's end abandons
// it at once.
TEST(EngineOpening, ANewFileOrTheEnginesEndAbandonsAnOpenAtOnce)
{
    auto player = std::make_unique<MediaPlayer>(std::make_unique<FakeOutput>(std::make_shared<FakeOutput::Log>()),
                                                openSlowly, nullptr);
    player->setFileName(QStringLiteral("slow.mp3"));
    runEventsFor(50ms);
    const auto replaced = std::chrono::steady_clock::now();
    player->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntilOpen(*player));
    EXPECT_LT(secondsSince(replaced), 0.1);
    EXPECT_EQ(player->playState(), PlayState::Playing);

    player->setFileName(QStringLiteral("slow.mp3"));
    runEventsFor(50ms);
    const auto closing = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(secondsSince(closing), 0.1);
}

// A decoder stuck on a bad stretch of its file: it gives nothing and never
// says it ended.
class StalledSource : public SampleSource {
public:
    int rate() const override { return cdRate; }
    int channels() const override { return 2; }
    std::int64_t lengthFrames() const override { return std::int64_t{4} * cdRate; }
    std::size_t read(std::int16_t* /*out*/, std::size_t /*maxSamples*/, bool& ended) override
    {
        ended = false;
        return 0;
    }
    bool seekToFrame(std::int64_t /*frame*/) override { return true; }
};

// A decoder that makes no progress does not keep the engine's thread busy:
// within a second the file is given up as unplayable, and the engine closes at
// once.
TEST(EngineWithAStalledDecoder, GivesTheFileUpWithinASecondAndClosesAtOnce)
{
    const auto openStalled = [](const std::string&, std::string&, const std::stop_token&) -> std::unique_ptr<SampleSource> {
        return std::make_unique<StalledSource>();
    };
    auto player = std::make_unique<MediaPlayer>(std::make_unique<FakeOutput>(std::make_shared<FakeOutput::Log>()),
                                                openStalled, nullptr);
    QSignalSpy failures(player.get(), &MediaEngine::playbackFailed);
    const auto dropped = std::chrono::steady_clock::now();
    player->setFileName(QStringLiteral("stalled.mp3"));
    ASSERT_TRUE(failures.wait(3000));
    EXPECT_LT(secondsSince(dropped), 1.5);
    EXPECT_TRUE(failures[0][1].toString().contains(QStringLiteral("no progress"))) << failures[0][1].toString().toStdString();
    EXPECT_EQ(player->openState(), OpenState::Closed);
    EXPECT_EQ(player->playState(), PlayState::Stopped);

    player->setFileName(QStringLiteral("stalled.mp3"));
    ASSERT_TRUE(waitUntilOpen(*player, 2s));
    const auto closing = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(secondsSince(closing), 0.3);
}

} // namespace
