#include "app/clock.h"

#include <gtest/gtest.h>

#include "animation/playback_fixture.h"
#include "app/commands.h"

using namespace playback_test;

namespace {

class ClockTest : public PlaybackTest {
protected:
    // Fire every timer armed so far, as the main loop would once their delays have passed.
    // Returns the timers they armed in turn.
    std::vector<ArmedTimer> fireTimers() {
        std::vector<ArmedTimer> due = log().timers;
        log().timers.clear();
        for (const ArmedTimer& t : due) {
            t.callback(t.value);
        }
        return log().timers;
    }
    int step() const { return currentTick * 8 + tickPhase; }
};

TEST_F(ClockTest, StoppedIdleDoesNothingAndWaits) {
    setScore({event({note(39)})}, {});
    for (int i = 0; i < 10; ++i) {
        onIdle();
    }
    EXPECT_EQ(step(), 0);
    EXPECT_EQ(keyStates[39].angle, 0.0f);
    EXPECT_EQ(log().redisplays, 0);
    EXPECT_EQ(log().idleWaits, 10);
}

TEST_F(ClockTest, IdleDrivenPlayRunsToTheEndAndStops) {
    setEmptyScore(5);
    onKeyboard('P', 0, 0);
    int calls = 0;
    while (playMode != Stopped && calls < 1000) {
        onIdle();
        ++calls;
    }
    EXPECT_EQ(calls, 40);
    EXPECT_EQ(currentTick, 5);
    EXPECT_EQ(log().redisplays, 40);
    EXPECT_EQ(log().idleWaits, 0);
    onIdle();
    EXPECT_EQ(currentTick, 5);
    EXPECT_EQ(log().redisplays, 40);
    EXPECT_EQ(log().idleWaits, 1);
}

TEST_F(ClockTest, TimerChainReArmsWithTheValueItReceivedUntilTheEnd) {
    setEmptyScore(2);
    onKeyboard('p', 0, 0);
    int ticks = 0;
    while (!log().timers.empty() && ticks < 100) {
        std::vector<ArmedTimer> next = fireTimers();
        ++ticks;
        if (!next.empty()) {
            ASSERT_EQ(next.size(), 1u);
            EXPECT_EQ(next[0].value, 5000);
            EXPECT_EQ(next[0].callback, &onTimer);
            EXPECT_EQ(next[0].delayMs, 1);
        }
    }
    EXPECT_EQ(ticks, 16);
    EXPECT_EQ(currentTick, 2);
    EXPECT_EQ(playMode, Stopped);
    EXPECT_EQ(log().redisplays, 16);

    // Any value is passed along unchanged.
    log().clear();
    resetPerformance();
    playMode = TimerDriven;
    onTimer(-17);
    ASSERT_EQ(log().timers.size(), 1u);
    EXPECT_EQ(log().timers[0].value, -17);
}

TEST_F(ClockTest, SecondPlayAddsASecondChain) {
    setEmptyScore(10);
    onKeyboard('p', 0, 0);
    fireTimers();
    fireTimers();
    EXPECT_EQ(step(), 2);
    onKeyboard('p', 0, 0);
    EXPECT_EQ(step(), 0);
    EXPECT_EQ(log().timers.size(), 2u);
    // Both chains step each time they fire.
    EXPECT_EQ(fireTimers().size(), 2u);
    EXPECT_EQ(step(), 2);
    EXPECT_EQ(fireTimers().size(), 2u);
    EXPECT_EQ(step(), 4);
    // The idle callback steps as well.
    onIdle();
    EXPECT_EQ(step(), 5);
}

TEST_F(ClockTest, TempoChangesTakeEffectAtTheNextArming) {
    setEmptyScore(10);
    onKeyboard('p', 0, 0);
    ASSERT_EQ(log().timers.size(), 1u);
    EXPECT_EQ(log().timers[0].delayMs, 1);
    for (int expected = 2; expected <= 6; ++expected) {
        onKeyboard('-', 0, 0);
        // The timer already armed keeps its delay.
        ASSERT_EQ(log().timers.size(), 1u);
        EXPECT_EQ(log().timers[0].delayMs, expected - 1);
        std::vector<ArmedTimer> next = fireTimers();
        ASSERT_EQ(next.size(), 1u);
        EXPECT_EQ(next[0].delayMs, expected);
    }
    // A zero interval is a valid delay.
    timerInterval = 0;
    EXPECT_EQ(fireTimers()[0].delayMs, 0);
}

TEST_F(ClockTest, PendingTickAfterStopStepsFromTheResetStateOnce) {
    setScore({event({note(39)}), kEmptyEvent, kEmptyEvent}, {});
    onKeyboard('p', 0, 0);
    for (int i = 0; i < 10; ++i) {
        fireTimers();
    }
    EXPECT_EQ(step(), 10);
    onKeyboard('o', 0, 0);
    EXPECT_EQ(step(), 0);
    EXPECT_EQ(keyStates[39].angle, 0.0f);
    log().clear();
    log().timers.push_back({1, onTimer, 5000});  // the tick the chain still had pending
    EXPECT_TRUE(fireTimers().empty());
    EXPECT_EQ(step(), 1);
    EXPECT_EQ(keyStates[39].angle, 2.5f);
    EXPECT_EQ(log().redisplays, 1);
    // The chain has ended; the stopped idle callback adds nothing.
    onIdle();
    EXPECT_EQ(step(), 1);
}

TEST_F(ClockTest, IdlePlayAfterTimerPlayEndsTheChainAfterItsNextTick) {
    setEmptyScore(10);
    onKeyboard('p', 0, 0);
    fireTimers();
    onKeyboard('P', 0, 0);
    EXPECT_EQ(step(), 0);
    EXPECT_TRUE(fireTimers().empty());
    EXPECT_EQ(step(), 1);
    onIdle();
    onIdle();
    EXPECT_EQ(step(), 3);
    EXPECT_EQ(playMode, IdleDriven);
}

TEST_F(ClockTest, PendingTimerTickAfterTheIdleTookTheLastStepDoesNothing) {
    setEmptyScore(1);
    onKeyboard('p', 0, 0);
    ASSERT_EQ(log().timers.size(), 1u);
    for (int i = 0; i < 8; ++i) {
        onIdle();
    }
    EXPECT_EQ(currentTick, 1);
    EXPECT_EQ(playMode, Stopped);
    const int redisplays = log().redisplays;
    EXPECT_TRUE(fireTimers().empty());
    EXPECT_EQ(currentTick, 1);
    EXPECT_EQ(tickPhase, 0);
    EXPECT_EQ(log().redisplays, redisplays);
}

TEST_F(ClockTest, PlayingPastTheScoreNeverSteps) {
    // A play mode left on with the tick outside the score: neither callback steps, and the idle
    // callback gives the processor back.
    setEmptyScore(2);
    for (int tick : {2, 7, -3}) {
        log().clear();
        currentTick = tick;
        tickPhase = 0;
        playMode = TimerDriven;
        onIdle();
        onTimer(5000);
        EXPECT_EQ(currentTick, tick);
        EXPECT_EQ(tickPhase, 0);
        EXPECT_EQ(log().redisplays, 0);
        EXPECT_TRUE(log().timers.empty());
        EXPECT_EQ(log().idleWaits, 1);
    }
}

}  // namespace
