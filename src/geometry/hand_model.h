#pragma once

#include <vector>

#include "geometry/hand_state.h"
#include "geometry/solvers.h"
#include "score/score_model.h"

// The hand's proportions and the parts of the hand drawing that need no GL: the aim of the
// playing fingers written into HandState, the digits' depth limits and the solver inputs. The
// drawing itself is in hands_gl.cpp.

// Overall size of a hand relative to the keyboard.
constexpr float handScale = 1.1f;
// Extra length of the digits' segments relative to the hand.
constexpr float digitLengthScale = 1.2f;

// Lowest allowed targetY + depthOffset for a digit on a white key: the keys' front edge.
constexpr double kWhiteKeyBound = -0.825;
// The same on a black key for the thumb, index, middle and ring finger: they stay further in,
// on the short black key.
constexpr double kBlackKeyBound = -0.10625;
// The little finger's black-key bound: it reaches black keys from the side, further in still.
constexpr double kLittleBlackKeyBound = 0.07625;

// Sizes of one three-segment finger.
struct FingerSize {
    float length1;
    float length2;
    float length3;
    float radius1;
    float radius2;
    float tipRadius;
    float blackBound;  // the finger's black-key depth bound
};

// All sizes of a hand, for the right hand (the mirror table turns them for the left).
struct HandDimensions {
    float palmRadius;
    int palmSlices;
    float palmHeightScale;  // the palm is a sphere flattened to this height
    Point3 thenarCentre;    // ball of the thumb, right hand
    float thenarRadius;
    float thenarHeightScale;
    Point3 thumbBase;  // right hand
    float thumbLength1;
    float thumbLength2;
    float thumbRootRadius;
    float thumbRadius1;
    float thumbTipRadius;
    float thumbBlackBound;
    float fingerBaseDistance;  // where the finger bases are drawn, from the palm centre
    float solverBaseDistance;  // where the solver takes them to be
    float fingerRootRadius;
    FingerSize fingers[5];  // indexed by finger number; entry 0 (the thumb) is unused
};

// Computes every size from handScale and digitLengthScale, in single precision.
HandDimensions computeHandDimensions();

// What makes a hand the right or the left one. The drawing is one procedure for both hands.
struct HandMirror {
    std::vector<NoteEvent>* notes;  // the hand's tick grid
    HandPlan* plan;                 // the hand's planned centres
    HandState* hand;                // the hand's pose
    float mirrorX;                  // 1 for the right hand, -1 for the left: thenar and thumb x
    float thenarTurn;               // rotation of the thenar about y, degrees
    HandSide side;                  // which way the thumb bends
    float baseAngles[5];            // finger base directions, degrees; entry 0 unused
};

// ---- Constant tables, one per hand. ----
extern const HandMirror rightMirror;  // rightNotes, rightPlan, rightHand
extern const HandMirror leftMirror;   // leftNotes, leftPlan, leftHand

// The hand's record of the current tick, or nullptr when currentTick is outside its grid.
const NoteEvent* currentEvent(const HandMirror& mirror);

// Before drawing: at tick 0 put the hand on its first planned centre, and aim every finger that
// plays in the current tick at the centre of its key. Nothing is written outside the grid.
void aimHand(const HandMirror& mirror);

// The depth limit of the digit in slot `slot`: depthOffset, raised to the key's bound when the
// digit plays a black or white key in the current tick.
float depthLimitFor(const HandMirror& mirror, int slot, float depthOffset, float blackBound);

// Solver inputs for the thumb and for finger 1..4, from the hand's current state.
ThumbParams thumbParams(const HandMirror& mirror, const HandDimensions& dims);
FingerParams fingerParams(const HandMirror& mirror, const HandDimensions& dims, int finger);
