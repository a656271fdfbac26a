// SPDX-License-Identifier: GPL-3.0-or-later
#include <map>

#include <QTimer>
#include <gtest/gtest.h>

#include "fakeengine.h"
#include "harness/testsink.h"
#include "platform/keystate.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"
#include "window/form1.h"
#include "window/progressbar.h"
#include "window/progresstimer.h"

using namespace std::chrono_literals;

namespace {

using Trace = std::vector<std::string>;

// Keys the test holds down, with the samples of the key state counted.
class FakeKeys : public KeyStateSource {
public:
    std::map<int, std::uint16_t> words;
    int samples = 0;

    void hold(std::initializer_list<int> keys)
    {
        words.clear();
        for (const int key : keys)
            words[key] = keyDownBit;
    }

    void sample() override { ++samples; }

    std::uint16_t GetAsyncKeyState(int virtualKey) override
    {
        const auto word = words.find(virtualKey);
        return word == words.end() ? 0 : word->second;
    }
};

void tick(Form1& window)
{
    QMetaObject::invokeMethod(window.findChild<QTimer*>(QStringLiteral("Timer2")), "timeout");
}

class ChordTest : public ::testing::Test {
protected:
    ChordTest() : engine(new FakeEngine), keys(new FakeKeys), window(engine, std::unique_ptr<KeyStateSource>(keys))
    {
        engine->open = OpenState::Open;
    }

    // The commands one tick runs with these keys down in this play state.
    std::vector<std::string> commandsFor(std::initializer_list<int> held, int playState)
    {
        keys->hold(held);
        engine->playing = playState;
        engine->calls.clear();
        tick(window);
        return engine->calls;
    }

    FakeEngine* engine;
    FakeKeys* keys;
    Form1 window;
};

// Each sample of the key state costs the display server a round trip.
TEST_F(ChordTest, ATickThatMatchesNothingSamplesTheKeysOnceAndRunsNothing)
{
    engine->playing = PlayState::Playing;
    tick(window);
    EXPECT_EQ(keys->samples, 1);
    EXPECT_TRUE(engine->calls.empty());
}

TEST_F(ChordTest, EachRuleRunsItsCommandAndTheFirstMatchWins)
{
    using VirtualKey::A;
    using VirtualKey::CapsLock;
    using VirtualKey::S;
    EXPECT_EQ(commandsFor({CapsLock, A}, PlayState::Stopped), Trace{"play"});
    EXPECT_EQ(commandsFor({CapsLock, S}, PlayState::Playing), (Trace{"stop", "setCurrentPosition(0.000000)"}));
    EXPECT_EQ(commandsFor({CapsLock, A}, PlayState::Paused), Trace{"play"});
    EXPECT_EQ(commandsFor({CapsLock, A}, PlayState::Playing), Trace{"pause"});
    // Rule 2 comes before rule 4.
    EXPECT_EQ(commandsFor({CapsLock, A, S}, PlayState::Playing).front(), "stop");
    EXPECT_TRUE(window.findChild<ProgressTimer*>(QStringLiteral("Timer1"))->isActive() == false);
}

TEST_F(ChordTest, NothingActsWithoutBothKeysOrInAStateNoRuleNames)
{
    using VirtualKey::A;
    using VirtualKey::CapsLock;
    using VirtualKey::S;
    for (const int state : {PlayState::Stopped, PlayState::Paused, PlayState::Playing, 3, -1}) {
        SCOPED_TRACE(state);
        for (const auto held : {std::initializer_list<int>{A}, {S}, {CapsLock}, {A, S}})
            EXPECT_TRUE(commandsFor(held, state).empty());
    }
    // Stop does not stop a paused or stopped file.
    EXPECT_TRUE(commandsFor({CapsLock, S}, PlayState::Paused).empty());
    EXPECT_TRUE(commandsFor({CapsLock, S}, PlayState::Stopped).empty());
    EXPECT_TRUE(commandsFor({CapsLock, A}, 3).empty());
    EXPECT_TRUE(commandsFor({CapsLock, S}, 7).empty());
}

TEST_F(ChordTest, TheKeyWordsAreCombinedBitByBit)
{
    engine->playing = PlayState::Playing;
    keys->words = {{VirtualKey::CapsLock, keyDownBit}, {VirtualKey::A, 0x0001}};
    tick(window);
    EXPECT_TRUE(engine->calls.empty());
    keys->words = {{VirtualKey::CapsLock, 0x8001}, {VirtualKey::A, 0x0001}};
    tick(window);
    EXPECT_EQ(engine->calls, Trace{"pause"});
}

TEST(ChordWithTheRealEngine, AHeldChordTogglesPauseAndPlayAtEveryTick)
{
    const TestSink audio;
    audio.useInThisProcess();
    auto* keys = new FakeKeys;
    Form1 window(new SystemMediaPlayer, std::unique_ptr<KeyStateSource>(keys));
    auto* engine = window.findChild<MediaEngine*>(QStringLiteral("MediaPlayer1"));

    keys->hold({VirtualKey::CapsLock, VirtualKey::A});
    tick(window); // no file: play does nothing
    EXPECT_EQ(engine->openState(), OpenState::Closed);

    engine->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return engine->playState() == PlayState::Playing; }, 5s));
    for (const int expected : {PlayState::Paused, PlayState::Playing, PlayState::Paused}) {
        tick(window);
        EXPECT_EQ(engine->playState(), expected);
    }
    keys->hold({VirtualKey::CapsLock, VirtualKey::S});
    tick(window); // paused: stop does not act
    EXPECT_EQ(engine->playState(), PlayState::Paused);
    keys->hold({VirtualKey::CapsLock, VirtualKey::A});
    tick(window);
    keys->hold({VirtualKey::CapsLock, VirtualKey::S});
    tick(window);
    EXPECT_EQ(engine->playState(), PlayState::Stopped);
    EXPECT_EQ(window.findChild<ProgressBar*>(QStringLiteral("ProgressBar1"))->value(), 0.0F);
    EXPECT_EQ(engine->currentPosition(), 0.0);
}

} // namespace
