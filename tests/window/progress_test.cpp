// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <limits>

#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include "fakeengine.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"
#include "window/form1.h"
#include "window/progressbar.h"
#include "window/progresstimer.h"

using namespace std::chrono_literals;

namespace {

template <typename Engine> class ProgressTest : public ::testing::Test {
protected:
    // Shown, as the bar's ticks are held while it cannot be seen.
    ProgressTest() : engine((audio.useInThisProcess(), new Engine)), window(engine) { window.show(); }

    ProgressTimer* timer1() const { return window.findChild<ProgressTimer*>(QStringLiteral("Timer1")); }
    ProgressBar* bar() const { return window.findChild<ProgressBar*>(QStringLiteral("ProgressBar1")); }
    void tick() const { QMetaObject::invokeMethod(timer1(), "timeout"); }
    int ticksIn(std::chrono::milliseconds stretch) const
    {
        const int before = engine->positionReads;
        runEventsFor(stretch);
        return engine->positionReads - before;
    }

    TestSink audio;
    Engine* engine;
    Form1 window;
};

using ProgressWithFakeEngine = ProgressTest<FakeEngine>;
using ProgressWithRealEngine = ProgressTest<SystemMediaPlayer>;

TEST_F(ProgressWithFakeEngine, OnlyTheOpenStateSetsTheRangeAndStartsTheTimer)
{
    EXPECT_EQ(bar()->minimum(), 0.0F);
    EXPECT_EQ(bar()->maximum(), 100.0F);
    EXPECT_EQ(bar()->value(), 0.0F);

    engine->length = 183.25;
    for (const int newState : {OpenState::Closed, OpenState::Opening, 9})
        emit engine->openStateChange(OpenState::Open, newState);
    EXPECT_EQ(bar()->maximum(), 100.0F);
    EXPECT_FALSE(timer1()->isActive());

    emit engine->openStateChange(OpenState::Opening, OpenState::Open);
    EXPECT_EQ(bar()->maximum(), 183.25F);
    EXPECT_TRUE(timer1()->isActive());
}

TEST_F(ProgressWithFakeEngine, ATickWritesTheSecondReadingOnlyWhenTheFirstIsPositive)
{
    bar()->setValue(7.0F);
    for (const double first : {0.0, -1.5, std::nan("")}) {
        engine->positions = {first, 50.0};
        engine->positionReads = 0;
        tick();
        EXPECT_EQ(bar()->value(), 7.0F) << first;
        EXPECT_EQ(engine->positionReads, 1);
    }
    engine->positions = {1.0, 2.5};
    engine->positionReads = 0;
    tick();
    EXPECT_EQ(bar()->value(), 2.5F);
    EXPECT_EQ(engine->positionReads, 2);
}

TEST_F(ProgressWithFakeEngine, OddDurationsAndPositionsDrawSanely)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (const double length : {0.0, -5.0, std::nan(""), inf, 1e300}) {
        engine->length = length;
        emit engine->openStateChange(OpenState::Opening, OpenState::Open);
        for (const double position : {1.0, 500.0, inf}) {
            engine->positions = {position};
            tick();
            const double fraction = bar()->filledFraction();
            EXPECT_TRUE(fraction >= 0.0 && fraction <= 1.0) << length << " " << position;
            bar()->repaint();
        }
    }
    // Above the maximum, the bar is drawn full.
    engine->length = 100.0;
    emit engine->openStateChange(OpenState::Opening, OpenState::Open);
    engine->positions = {250.0};
    tick();
    EXPECT_EQ(bar()->value(), 250.0F);
    EXPECT_EQ(bar()->filledFraction(), 1.0);
}

// Ticks come while the clock runs and the window is exposed. A hold keeps the
// timer on, and each start and end of one brings a tick at once, before the
// next event, copying the position.
TEST_F(ProgressWithFakeEngine, TicksAreHeldWhileTheClockStandsStillOrTheWindowIsHidden)
{
    emit engine->openStateChange(OpenState::Opening, OpenState::Open);
    EXPECT_EQ(ticksIn(60ms), 0);

    engine->positions = {3.0};
    emit engine->clockRunningChanged(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(bar()->value(), 3.0F);
    EXPECT_GT(ticksIn(60ms), 1);

    engine->positions = {4.5};
    emit engine->clockRunningChanged(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(bar()->value(), 4.5F);
    EXPECT_EQ(ticksIn(60ms), 0);
    EXPECT_TRUE(timer1()->isActive());

    emit engine->clockRunningChanged(true);
    window.hide();
    runEventsFor(20ms);
    EXPECT_EQ(ticksIn(60ms), 0);
    EXPECT_TRUE(timer1()->isActive());
    engine->positions = {7.0};
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle()->isExposed(); }, 1s));
    QCoreApplication::processEvents();
    EXPECT_EQ(bar()->value(), 7.0F);
    EXPECT_GT(ticksIn(60ms), 1);

    // Stopped, the timer stays off whatever the clock and the window do.
    window.stop();
    emit engine->clockRunningChanged(false);
    emit engine->clockRunningChanged(true);
    EXPECT_EQ(ticksIn(30ms), 0);
    EXPECT_FALSE(timer1()->isActive());
}

TEST_F(ProgressWithRealEngine, TheBarFollowsPlaybackHoldsOnPauseAndStopZeroesIt)
{
    engine->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return bar()->value() > 0.5F; }, 5s));
    EXPECT_FLOAT_EQ(bar()->maximum(), 4.0F);
    EXPECT_NEAR(bar()->value(), engine->currentPosition(), 0.05);

    window.pause();
    runEventsFor(150ms);
    const float held = bar()->value();
    runEventsFor(300ms);
    EXPECT_EQ(bar()->value(), held);
    EXPECT_TRUE(timer1()->isActive());
    EXPECT_TRUE(timer1()->isHeld());

    window.play();
    ASSERT_TRUE(waitUntil([&] { return bar()->value() > held + 0.2F; }, 5s));

    window.stop();
    EXPECT_EQ(bar()->value(), 0.0F);
    EXPECT_FALSE(timer1()->isActive());
    runEventsFor(200ms);
    EXPECT_EQ(bar()->value(), 0.0F);

    // Play switches the timer on again, from the top.
    window.play();
    EXPECT_TRUE(timer1()->isActive());
    ASSERT_TRUE(waitUntil([&] { return bar()->value() > 0.0F; }, 5s));
    EXPECT_LT(bar()->value(), 0.5F);
}

TEST_F(ProgressWithRealEngine, ASecondFileResetsTheRangeAndTheTimerRunsOnAfterTheEnd)
{
    engine->setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return bar()->value() > 0.2F; }, 5s));
    engine->setFileName(testFile("mono48.mp3"));
    ASSERT_TRUE(waitUntil([&] { return bar()->maximum() == 1.5F; }, 5s));

    ASSERT_TRUE(waitUntil([&] { return engine->playState() == PlayState::Stopped; }, 5s));
    // The engine rewinds at the end; a position of 0 leaves the bar as it was.
    runEventsFor(100ms);
    EXPECT_TRUE(timer1()->isActive());
    EXPECT_GT(bar()->value(), 1.3F);
}

} // namespace
