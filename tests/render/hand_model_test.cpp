#include "geometry/hand_model.h"

#include <gtest/gtest.h>

#include "animation/animation.h"
#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace {

// Keys used below: 39 is C4 (white), 40 is C sharp 4 (black), 43 is E4 (white).
constexpr int32_t kC4 = 39;
constexpr int32_t kCSharp4 = 40;
constexpr int32_t kE4 = 43;

NoteEvent event(int32_t thumb, int32_t index, int32_t middle, int32_t ring, int32_t little) {
    return NoteEvent{{{thumb, 1}, {index, 1}, {middle, 1}, {ring, 1}, {little, 1}}};
}

// Both hands at their start poses over a three-tick score.
void setUpScore() {
    buildKeyLayout();
    rightNotes = {event(kC4, kNoKey, kE4, kNoKey, kNoKey), event(kNoKey, kCSharp4, kNoKey, 88, -7),
                  kEmptyEvent};
    leftNotes = {event(kNoKey, kNoKey, kNoKey, kNoKey, 20), kEmptyEvent, kEmptyEvent};
    rightPlan = {0.4f, 0.5f, 0.6f};
    leftPlan = {-2.0f, -2.1f, -2.2f};
    rightHand.position = {1.3f, 0.9f, 0.75f};
    leftHand.position = {-1.3f, 0.9f, 0.75f};
    for (int k = 0; k < 5; ++k) {
        rightHand.fingers[k] = {0.1f * k, 1.0f, 0.3f};
        leftHand.fingers[k] = {-0.1f * k, 1.0f, 0.3f};
    }
}

}  // namespace

TEST(HandModel, DimensionsComeFromTheTwoScaleFactors) {
    const HandDimensions d = computeHandDimensions();
    EXPECT_NEAR(d.palmRadius, 0.715f, 1e-6);
    EXPECT_EQ(d.palmSlices, 16);
    EXPECT_NEAR(d.thumbBase.x, -0.645157f, 1e-6);
    EXPECT_NEAR(d.thumbBase.y, 0.0940555f, 1e-6);
    EXPECT_NEAR(d.thumbLength1, 0.4356f, 1e-6);
    EXPECT_NEAR(d.fingerBaseDistance, 0.55f, 1e-6);
    // The index finger's last segment lacks the digit length factor; the little finger is short
    // and has its own black-key bound.
    EXPECT_NEAR(d.fingers[1].length3, 0.264f, 1e-6);
    EXPECT_NEAR(d.fingers[2].length3, 0.3168f, 1e-6);
    EXPECT_NEAR(d.fingers[4].length1, 0.3696f, 1e-6);
    EXPECT_NEAR(d.fingers[4].blackBound, 0.07625f, 1e-7);
}

TEST(HandModel, FirstTickPutsTheHandOnItsPlanAndAimsThePlayingFingers) {
    setUpScore();
    currentTick = 0;
    const Point3 before[5] = {rightHand.fingers[0], rightHand.fingers[1], rightHand.fingers[2],
                              rightHand.fingers[3], rightHand.fingers[4]};
    aimHand(rightMirror);
    aimHand(leftMirror);
    EXPECT_EQ(rightHand.position.x, 0.4f);
    EXPECT_EQ(leftHand.position.x, -2.0f);
    EXPECT_FLOAT_EQ(rightHand.fingers[0].x, KeyLayout[kC4].x - 0.4f);
    EXPECT_FLOAT_EQ(rightHand.fingers[2].x, KeyLayout[kE4].x - 0.4f);
    EXPECT_FLOAT_EQ(leftHand.fingers[4].x, KeyLayout[20].x - -2.0f);
    // Fingers without a key keep their whole record; the aim never touches y or z.
    for (int k : {1, 3, 4}) {
        EXPECT_EQ(rightHand.fingers[k].x, before[k].x) << k;
    }
    EXPECT_EQ(rightHand.fingers[0].y, 1.0f);
    EXPECT_EQ(rightHand.fingers[0].z, 0.3f);
    EXPECT_EQ(leftHand.fingers[0].x, 0.0f);

    // Later ticks aim the fingers but leave the hand where the animation put it. Keys off the
    // keyboard (88, -7) are not aimed at.
    rightHand.position.x = 0.45f;
    currentTick = 1;
    aimHand(rightMirror);
    EXPECT_EQ(rightHand.position.x, 0.45f);
    EXPECT_FLOAT_EQ(rightHand.fingers[1].x, KeyLayout[kCSharp4].x - 0.45f);
    EXPECT_EQ(rightHand.fingers[3].x, before[3].x);
    EXPECT_EQ(rightHand.fingers[4].x, before[4].x);
}

TEST(HandModel, NothingIsWrittenOutsideTheGrid) {
    setUpScore();
    for (int32_t tick : {-1, 3, 40, -5}) {
        currentTick = tick;
        const HandState saved = rightHand;
        aimHand(rightMirror);
        EXPECT_EQ(rightHand.position.x, saved.position.x) << tick;
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(rightHand.fingers[k].x, saved.fingers[k].x) << tick << " " << k;
        }
        // Past the end the limits are the plain offsets.
        EXPECT_EQ(depthLimitFor(rightMirror, 0, -2.0f, -0.10625f), -2.0f);
    }
    // A score with ticks but no plan yet: the hand stays, the fingers are still aimed.
    rightPlan.clear();
    currentTick = 0;
    aimHand(rightMirror);
    EXPECT_EQ(rightHand.position.x, 1.3f);
    EXPECT_FLOAT_EQ(rightHand.fingers[0].x, KeyLayout[kC4].x - 1.3f);
    // An empty score.
    rightNotes.clear();
    EXPECT_EQ(currentEvent(rightMirror), nullptr);
    aimHand(rightMirror);
    EXPECT_EQ(rightHand.position.x, 1.3f);
}

TEST(HandModel, DepthOffsetsAndLimitsHoldFingersOnTheirKeys) {
    setUpScore();
    const HandDimensions d = computeHandDimensions();
    rightNotes[0] = event(kCSharp4, kCSharp4, kC4, kNoKey, kCSharp4);
    currentTick = 0;

    // Index finger at the reset depth 0.9: offset 0.5 sin 120 - 0.9.
    FingerParams index = fingerParams(rightMirror, d, 1);
    EXPECT_NEAR(index.depthOffset, -0.466987f, 1e-6);
    EXPECT_EQ(index.baseAngle, 120.0f);
    EXPECT_EQ(index.baseDistance, 0.5f);
    // On a black key the limit rises to -0.10625, so targetY stays at or above 0.360737.
    EXPECT_FLOAT_EQ(index.depthLimit, -0.10625f);
    index.targetY = 0.0f;
    EXPECT_NEAR(solveFinger(index).targetY, 0.360737f, 1e-6);

    // On a white key the limit stays at the offset (above -0.825): targetY only kept above 0.
    const FingerParams middle = fingerParams(rightMirror, d, 2);
    EXPECT_FLOAT_EQ(middle.depthOffset, 0.5f - 0.9f);
    EXPECT_EQ(middle.depthLimit, middle.depthOffset);
    // No key: the offset as well.
    const FingerParams ring = fingerParams(rightMirror, d, 3);
    EXPECT_EQ(ring.depthLimit, ring.depthOffset);

    // The little finger on a black key reaches further in.
    FingerParams little = fingerParams(rightMirror, d, 4);
    EXPECT_FLOAT_EQ(little.depthLimit, 0.07625f);
    little.targetY = 0.0f;
    EXPECT_FLOAT_EQ(solveFinger(little).targetY, 0.07625f - little.depthOffset);

    // The thumb's offset is its base's depth less the hand's; black key bound as the fingers.
    const ThumbParams thumb = thumbParams(rightMirror, d);
    EXPECT_NEAR(thumb.depthOffset, 0.0940555f - 0.9f, 1e-6);
    EXPECT_FLOAT_EQ(thumb.depthLimit, -0.10625f);

    // A hand held far back on a white key is stopped at the keys' front edge.
    rightHand.position.y = 1.2f;
    rightNotes[0] = event(kC4, kNoKey, kNoKey, kNoKey, kNoKey);
    const ThumbParams back = thumbParams(rightMirror, d);
    EXPECT_LT(back.depthOffset, -0.825f);
    EXPECT_FLOAT_EQ(back.depthLimit, -0.825f);
    // A limit already above the bound is kept.
    EXPECT_EQ(depthLimitFor(rightMirror, 0, 0.3f, -0.10625f), 0.3f);
}

TEST(HandModel, LeftHandIsTheMirrorImage) {
    setUpScore();
    currentTick = 0;
    const HandDimensions d = computeHandDimensions();
    const ThumbParams right = thumbParams(rightMirror, d);
    const ThumbParams left = thumbParams(leftMirror, d);
    EXPECT_EQ(right.side, RightSide);
    EXPECT_EQ(left.side, LeftSide);
    EXPECT_NEAR(left.bx, 0.645157f, 1e-6);
    EXPECT_EQ(left.bx, -right.bx);
    EXPECT_EQ(fingerParams(leftMirror, d, 1).baseAngle, 60.0f);
    EXPECT_EQ(fingerParams(leftMirror, d, 4).baseAngle, 150.0f);
    EXPECT_EQ(leftMirror.thenarTurn, -rightMirror.thenarTurn);
    // Left fingers read the left hand's targets.
    EXPECT_EQ(fingerParams(leftMirror, d, 3).targetX, leftHand.fingers[3].x);
    EXPECT_EQ(fingerParams(leftMirror, d, 3).targetY, leftHand.fingers[3].y);
    // Mirror targets give mirror-image thumb headings and sideways bends.
    ThumbParams r = right;
    ThumbParams l = left;
    r.targetX = right.bx - 0.2f;
    l.targetX = left.bx + 0.2f;
    r.targetY = l.targetY = 0.5f;
    const ThumbAngles ra = solveThumb(r);
    const ThumbAngles la = solveThumb(l);
    EXPECT_FLOAT_EQ(ra.heading, -la.heading);
    EXPECT_FLOAT_EQ(ra.swing, -la.swing);
    EXPECT_FLOAT_EQ(ra.jointBend, -la.jointBend);
}
