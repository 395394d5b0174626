#pragma once

#include <cstdint>
#include <vector>

#include "app/point3.h"

// Animation state of one key.
struct KeyState {
    float angle;       // press angle in degrees: 0 at rest, 10 fully pressed
    int32_t paused;    // 0 lets the key travel down in phases 1 to 5
    int32_t reserved;  // always 0
};

// Where one hand and its fingers are.
struct HandState {
    Point3 position;    // x: centre along the keyboard; y: depth; z: height (scene units)
    Point3 fingers[5];  // fingertip targets in the palm frame, x relative to position.x;
                        // 0 thumb, 1 index, 2 middle, 3 ring, 4 little
};

// Where resetPerformance puts each hand: x along the keyboard, y depth, z height (scene units).
// The planner also keeps a hand that has nothing to play at this x.
constexpr Point3 kRightHandStart = {1.3f, 0.9f, 0.75f};
constexpr Point3 kLeftHandStart = {-1.3f, 0.9f, 0.75f};

// Finger height below the palm when it strikes a white or a black key. The black keys stand
// higher, so the fingertip goes down less far. The planner that places hands by reach reads
// them too, to check a finger at its deepest.
constexpr double kPressDropWhite = 0.225;
constexpr double kPressDropBlack = 0.4125;
// How much a finger follows its key down in each of the travel phases 1 to 3.
constexpr double kTravelRise = 0.0375;

// ---- Created at start-up (88 records); reset by resetPerformance; written by the step. ----
extern std::vector<KeyState> keyStates;  // per key 0..87; the keyboard drawing clamps angle to 10

// ---- Reset by resetPerformance; written by the step and the hand drawing. ----
extern HandState rightHand;  // right hand pose
extern HandState leftHand;   // left hand pose
extern int32_t tickPhase;    // phase 0..7 of currentTick; also zeroed by the play commands

// Advance the performance by one eighth of a tick. Requires 0 <= currentTick < rightNotes.size().
void animationStep();
