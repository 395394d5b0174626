#include "animation/animation.h"

#include <gtest/gtest.h>

#include "animation/playback_fixture.h"

using namespace playback_test;

namespace {

constexpr int kWhite = 39;      // C4
constexpr int kBlack = 40;      // C#4
constexpr int kLeftBlack = 28;  // C#3
constexpr float kTolerance = 1e-5f;

// Finger height relative to its palm.
float drop(const HandState& hand, int finger) {
    return hand.fingers[finger].z - hand.position.z;
}

class AnimationStepTest : public PlaybackTest {};

TEST_F(AnimationStepTest, OneTickNoteFollowsTheCourseForWhiteAndBlackKeys) {
    ASSERT_EQ(KeyLayout[kWhite].black, 0.0f);
    ASSERT_NE(KeyLayout[kBlack].black, 0.0f);
    ASSERT_NE(KeyLayout[kLeftBlack].black, 0.0f);
    // The right index finger strikes a white key, the right middle finger a black key and the
    // left thumb a black key, all from rest; a second, empty tick follows.
    setScore({event({note(-1), note(kWhite), note(kBlack)}), kEmptyEvent},
             {event({note(kLeftBlack)}), kEmptyEvent});

    const float angle[8] = {2.5f, 5.0f, 7.5f, 10.0f, 10.0f, 10.0f, 0.5f, 0.0f};
    const float white[8] = {-0.225f,  -0.1875f, -0.15f, -0.1125f,
                            -0.1125f, -0.1125f, -0.15f, -0.45f};
    const float black[8] = {-0.4125f, -0.375f, -0.3375f, -0.3f, -0.3f, -0.3f, -0.375f, -0.45f};
    for (int phase = 0; phase < 8; ++phase) {
        SCOPED_TRACE(phase);
        EXPECT_EQ(tickPhase, phase);
        animationStep();
        EXPECT_FLOAT_EQ(keyStates[kWhite].angle, angle[phase]);
        EXPECT_FLOAT_EQ(keyStates[kBlack].angle, angle[phase]);
        EXPECT_FLOAT_EQ(keyStates[kLeftBlack].angle, angle[phase]);
        EXPECT_NEAR(drop(rightHand, 1), white[phase], kTolerance);
        EXPECT_NEAR(drop(rightHand, 2), black[phase], kTolerance);
        EXPECT_NEAR(drop(leftHand, 0), black[phase], kTolerance);
        // Fingers without a note keep their rest height.
        EXPECT_NEAR(drop(rightHand, 0), -0.45f, kTolerance);
        EXPECT_NEAR(drop(leftHand, 1), -0.45f, kTolerance);
    }
    EXPECT_EQ(currentTick, 1);
    EXPECT_EQ(tickPhase, 0);
    // Only the three struck keys moved.
    for (int key = 0; key < kKeyCount; ++key) {
        EXPECT_EQ(keyStates[key].angle, 0.0f) << key;
    }
}

TEST_F(AnimationStepTest, HeldNoteStaysDownUntilItsLastTick) {
    setScore(
        {event({note(kWhite, 0)}), event({note(kWhite, 0)}), event({note(kWhite, 1)}), kEmptyEvent},
        {});
    for (int i = 0; i < 8; ++i) {
        animationStep();
    }
    // Not released at the end of its first tick.
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 10.0f);
    EXPECT_NEAR(drop(rightHand, 0), -0.1125f, kTolerance);
    // Through the whole second tick: no further travel, the finger stays raised.
    for (int i = 0; i < 8; ++i) {
        animationStep();
        EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 10.0f);
        EXPECT_NEAR(drop(rightHand, 0), -0.1125f, kTolerance);
    }
    // Third tick: released in its phases 6 and 7 only.
    for (int i = 0; i < 6; ++i) {
        animationStep();
        EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 10.0f);
    }
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 0.5f);
    EXPECT_NEAR(drop(rightHand, 0), -0.15f, kTolerance);
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 0.0f);
    EXPECT_NEAR(drop(rightHand, 0), -0.45f, kTolerance);
    EXPECT_EQ(currentTick, 3);
}

TEST_F(AnimationStepTest, SameKeyInConsecutiveTicksIsStruckAgain) {
    setScore({event({note(kWhite)}), event({note(kWhite)})}, {});
    for (int i = 0; i < 8; ++i) {
        animationStep();
    }
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 0.0f);
    EXPECT_NEAR(drop(rightHand, 0), -0.45f, kTolerance);
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 2.5f);
    EXPECT_NEAR(drop(rightHand, 0), -0.225f, kTolerance);
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 5.0f);
}

TEST_F(AnimationStepTest, SameKeyInBothHandsPressesTwiceAndRaisesOnlyTheRightFinger) {
    setScore({event({note(-1), note(kWhite)}), kEmptyEvent},
             {event({note(-1), note(-1), note(kWhite)}), kEmptyEvent});
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 5.0f);
    EXPECT_NEAR(drop(rightHand, 1), -0.225f, kTolerance);
    EXPECT_NEAR(drop(leftHand, 2), -0.225f, kTolerance);
    animationStep();  // 7.5
    animationStep();  // 10
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 10.0f);
    EXPECT_NEAR(drop(rightHand, 1), -0.15f, kTolerance);
    EXPECT_NEAR(drop(leftHand, 2), -0.225f, kTolerance);
    animationStep();  // fully down: no more travel, no more rise
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 10.0f);
    EXPECT_NEAR(drop(rightHand, 1), -0.15f, kTolerance);

    // A key already at 7.5: the right hand takes it to 10, the left hand adds nothing.
    resetPerformance();
    keyStates[kWhite].angle = 7.5f;
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 10.0f);
}

TEST_F(AnimationStepTest, GlideCoversTwoThirdsAndLandsOnThePlan) {
    constexpr int kNextKey = 50;  // B4, struck by the right index finger in tick 1
    setScore({kEmptyEvent, event({note(-1), note(kNextKey)})}, {}, {1.0f, 2.5f}, {-1.3f, -3.1f});
    const HandState startRight = rightHand;
    const HandState startLeft = leftHand;

    animationStep();  // phase 0 puts the hands on their plans for tick 0
    EXPECT_FLOAT_EQ(rightHand.position.x, 1.0f);
    EXPECT_FLOAT_EQ(leftHand.position.x, -1.3f);
    for (int i = 1; i < 6; ++i) {
        animationStep();
    }
    EXPECT_FLOAT_EQ(rightHand.position.x, 1.0f);

    // Where the index finger has to go, relative to the hand after the first third.
    const double fingerWay = KeyLayout[kNextKey].x - 1.5 - startRight.fingers[1].x;

    animationStep();  // phase 6
    EXPECT_NEAR(rightHand.position.x, 1.5f, kTolerance);
    EXPECT_NEAR(leftHand.position.x, -1.3f + (-3.1f + 1.3f) / 3, kTolerance);
    EXPECT_NEAR(rightHand.fingers[1].x, startRight.fingers[1].x + fingerWay / 3, kTolerance);

    animationStep();  // phase 7
    EXPECT_NEAR(rightHand.position.x, 2.0f, kTolerance);
    EXPECT_NEAR(leftHand.position.x, -1.3f + 2 * (-3.1f + 1.3f) / 3, kTolerance);
    EXPECT_NEAR(rightHand.fingers[1].x, startRight.fingers[1].x + 2 * fingerWay / 3, kTolerance);
    EXPECT_EQ(currentTick, 1);

    // Fingers with nothing to play in tick 1 kept their x through the glide.
    for (int k = 0; k < 5; ++k) {
        if (k != 1) {
            EXPECT_EQ(rightHand.fingers[k].x, startRight.fingers[k].x) << k;
        }
        EXPECT_EQ(leftHand.fingers[k].x, startLeft.fingers[k].x) << k;
    }

    animationStep();  // phase 0 of tick 1: exactly on the plan
    EXPECT_EQ(rightHand.position.x, 2.5f);
    EXPECT_EQ(leftHand.position.x, -3.1f);
}

TEST_F(AnimationStepTest, EmptyTickOnlyMovesHandsAndLetsEarlierKeysTravel) {
    setScore({kEmptyEvent, kEmptyEvent}, {kEmptyEvent, kEmptyEvent}, {0.4f, 0.4f}, {-2.0f, -2.0f});
    keyStates[60].angle = 5.0f;   // still on its way down from an earlier tick
    keyStates[70].angle = 10.0f;  // held from an earlier tick
    keyStates[71].angle = 5.0f;   // on its way down, but stopped
    keyStates[71].paused = 1;
    const HandState startRight = rightHand;
    const HandState startLeft = leftHand;

    animationStep();
    EXPECT_EQ(rightHand.position.x, 0.4f);
    EXPECT_EQ(leftHand.position.x, -2.0f);
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[60].angle, 7.5f);
    animationStep();
    EXPECT_FLOAT_EQ(keyStates[60].angle, 10.0f);
    for (int i = 3; i < 8; ++i) {
        animationStep();
    }
    EXPECT_FLOAT_EQ(keyStates[60].angle, 10.0f);
    EXPECT_FLOAT_EQ(keyStates[70].angle, 10.0f);
    EXPECT_FLOAT_EQ(keyStates[71].angle, 5.0f);
    // No finger holds those keys, so none rose; nothing was released.
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rightHand.fingers[k].z, startRight.fingers[k].z);
        EXPECT_EQ(leftHand.fingers[k].z, startLeft.fingers[k].z);
        EXPECT_EQ(rightHand.fingers[k].x, startRight.fingers[k].x);
    }
    EXPECT_EQ(currentTick, 1);
}

TEST_F(AnimationStepTest, LastTickDoesNotGlideAndStopsPlayback) {
    setScore({event({note(kWhite)}), event({note(kBlack)})}, {}, {0.5f, 3.0f});
    playMode = IdleDriven;
    for (int i = 0; i < 8; ++i) {
        animationStep();
    }
    EXPECT_EQ(currentTick, 1);
    EXPECT_EQ(playMode, IdleDriven);
    for (int i = 0; i < 6; ++i) {
        animationStep();
    }
    const HandState before = rightHand;
    const HandState beforeLeft = leftHand;
    animationStep();
    animationStep();
    EXPECT_EQ(rightHand.position.x, before.position.x);
    EXPECT_EQ(leftHand.position.x, beforeLeft.position.x);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rightHand.fingers[k].x, before.fingers[k].x) << k;
        EXPECT_EQ(leftHand.fingers[k].x, beforeLeft.fingers[k].x) << k;
    }
    EXPECT_FLOAT_EQ(keyStates[kBlack].angle, 0.0f);
    EXPECT_EQ(currentTick, 2);
    EXPECT_EQ(tickPhase, 0);
    EXPECT_EQ(playMode, Stopped);
}

TEST_F(AnimationStepTest, ThreeTicksTakeExactlyTwentyFourSteps) {
    setEmptyScore(3);
    playMode = TimerDriven;
    for (int i = 0; i < 23; ++i) {
        animationStep();
        ASSERT_EQ(playMode, TimerDriven) << "stopped after " << i + 1 << " steps";
        EXPECT_EQ(currentTick, (i + 1) / 8);
        EXPECT_EQ(tickPhase, (i + 1) % 8);
    }
    animationStep();
    EXPECT_EQ(currentTick, 3);
    EXPECT_EQ(playMode, Stopped);
}

TEST_F(AnimationStepTest, DamagedStateIsNeverReadOutOfRange) {
    // Slots naming no key of the keyboard, a left grid shorter than the right one and plans
    // that end early: the step plays what it can and moves on.
    rightNotes = {event({note(88), note(-7), note(1000), note(kWhite)}), kEmptyEvent,
                  event({note(kBlack)})};
    leftNotes = {event({note(kLeftBlack)})};
    rightPlan = {0.7f};
    leftPlan = {};
    playMode = IdleDriven;
    const float leftX = leftHand.position.x;
    for (int i = 0; i < 24; ++i) {
        animationStep();
        if (i == 0) {
            EXPECT_FLOAT_EQ(keyStates[kWhite].angle, 2.5f);
            EXPECT_FLOAT_EQ(keyStates[kLeftBlack].angle, 2.5f);
            EXPECT_EQ(rightHand.position.x, 0.7f);
            EXPECT_EQ(leftHand.position.x, leftX);
        }
    }
    EXPECT_EQ(currentTick, 3);
    EXPECT_EQ(playMode, Stopped);
    EXPECT_EQ(rightHand.position.x, 0.7f);

    // Outside the score the step changes nothing but ends playback.
    const std::vector<KeyState> keysBefore = keyStates;
    for (int tick : {3, 50, -1}) {
        currentTick = tick;
        tickPhase = 0;
        playMode = IdleDriven;
        animationStep();
        EXPECT_EQ(currentTick, tick);
        EXPECT_EQ(tickPhase, 0);
        EXPECT_EQ(playMode, Stopped);
    }
    for (int key = 0; key < kKeyCount; ++key) {
        EXPECT_EQ(keyStates[key].angle, keysBefore[key].angle);
    }

    // A phase that is not one of the eight starts the tick over.
    currentTick = 0;
    tickPhase = 42;
    animationStep();
    EXPECT_EQ(tickPhase, 1);
}

}  // namespace
