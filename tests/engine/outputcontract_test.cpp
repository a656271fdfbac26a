// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/enginetestsupport.h"
#include "engine/fakeoutput.h"
#include "engine/fakepulloutput.h"
#include "engine/mediaplayer.h"
#include "harness/pcm.h"
#include "support/opened.h"
#include "support/testdata.h"
#include "support/wait.h"

// The output contract as the engine keeps it, on a fake backend of each
// kind: one the engine's frames are pushed to, and one whose graph pulls
// them each cycle. Both play in real time and keep what a listener hears.

using namespace std::chrono_literals;

namespace {

enum class Kind { Push, Pull };

struct Played {
    std::vector<std::vector<std::int16_t>> segments;
    std::vector<std::int64_t> resumes;
    std::vector<std::int16_t> heard;
};

template<typename Log>
Played copyOf(Log& log)
{
    const std::lock_guard lock(log.mutex);
    Played played{{}, log.resumes, log.heard};
    for (const auto& segment : log.segments) {
        if (!segment.empty())
            played.segments.push_back(segment);
    }
    return played;
}

// The whole file as the program's decoder gives it.
std::vector<std::int16_t> decoded(const QString& path)
{
    std::string error;
    const auto source = openDecoder(path.toStdString(), error, {});
    std::vector<std::int16_t> samples;
    std::vector<std::int16_t> chunk(8192);
    for (bool ended = false; source && !ended;)
        samples.insert(samples.end(), chunk.begin(),
                       chunk.begin() + static_cast<std::ptrdiff_t>(source->read(chunk.data(), chunk.size(), ended)));
    return samples;
}

std::vector<std::int16_t> left(const std::vector<std::int16_t>& stereo)
{
    std::vector<std::int16_t> mono;
    for (std::size_t i = 0; i < stereo.size(); i += 2)
        mono.push_back(stereo[i]);
    return mono;
}

class OutputContractTest : public ::testing::TestWithParam<Kind> {
protected:
    std::unique_ptr<AudioOutput> makeOutput()
    {
        if (GetParam() == Kind::Push)
            return std::make_unique<FakeOutput>(pushLog);
        return std::make_unique<FakePullOutput>(pullLog);
    }

    Played played() { return GetParam() == Kind::Push ? copyOf(*pushLog) : copyOf(*pullLog); }

    std::shared_ptr<FakeOutput::Log> pushLog = std::make_shared<FakeOutput::Log>();
    std::shared_ptr<FakePullOutput::Log> pullLog = std::make_shared<FakePullOutput::Log>();
    MediaPlayer player{makeOutput(), openDecoder, nullptr};
};

// Paused and played twice, then stopped and played, after steady play each
// time: each segment goes on in the file from the frame its halt returned,
// or from the top after a stop, and apart from its fade in holds the file's
// own samples; what is heard never steps more than the tone does, so each
// halt's fade begins at the frame the backend placed it and each start
// fades in.
TEST_P(OutputContractTest, EachSegmentGoesOnWhereTheHaltSaidAndNothingHeardSteps)
{
    const QString file = testFile("cbr44_long.mp3");
    player.setFileName(file);
    ASSERT_TRUE(waitUntilOpen(player));
    const auto playFor = [&](double seconds) {
        const double from = player.currentPosition();
        return waitUntil([&] { return player.currentPosition() >= from + seconds; }, 5s);
    };
    const auto halted = [&](std::size_t halts) {
        return waitUntil([&] { return played().resumes.size() >= halts; }, 5s);
    };
    // Whether each halt is a stop, and how long it follows steady play.
    const std::pair<bool, double> halts[] = {{false, 0.4}, {false, 0.4}, {true, 0.3}, {true, 0.3}};
    for (std::size_t i = 0; i < std::size(halts); ++i) {
        const auto [stops, after] = halts[i];
        if (i > 0)
            player.play();
        ASSERT_TRUE(playFor(after));
        if (stops)
            player.stop();
        else
            player.pause();
        ASSERT_TRUE(halted(i + 1));
    }

    const Played out = played();
    const std::vector<std::int16_t> file44 = decoded(file);
    ASSERT_EQ(out.segments.size(), 4U);
    ASSERT_EQ(out.resumes.size(), 4U);
    const std::int64_t starts[] = {0, out.resumes[0], out.resumes[0] + out.resumes[1], 0};
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const auto& segment = out.segments[k];
        const auto begin = static_cast<std::size_t>(starts[k] * 2);
        ASSERT_GT(segment.size(), fadeFrames * 2);
        ASSERT_LE(begin + segment.size(), file44.size());
        const auto differs = std::mismatch(segment.begin() + fadeFrames * 2, segment.end(),
                                           file44.begin() + static_cast<std::ptrdiff_t>(begin + fadeFrames * 2));
        EXPECT_EQ(differs.first, segment.end())
            << "differs from the file at segment sample " << differs.first - segment.begin();
    }

    const std::vector<std::int16_t> tone = left(file44);
    const int toneStep = largestStep(tone, cdRate / 10, cdRate / 10);
    const std::vector<std::int16_t> heard = left(out.heard);
    EXPECT_LE(largestStep(heard, 0, heard.size()), 2 * toneStep) << "the tone's own step is " << toneStep;
}

INSTANTIATE_TEST_SUITE_P(Kinds, OutputContractTest, ::testing::Values(Kind::Push, Kind::Pull),
                         [](const auto& info) { return info.param == Kind::Push ? "Push" : "Pull"; });

} // namespace
