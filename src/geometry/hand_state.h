#pragma once

#include <vector>

#include "geometry/point3.h"

// Where the hands are and where they are planned to go: the pose the tick step moves and the
// hand drawing reads, the start poses, and the plans of the hands' centres. The planners write
// the plans, the tick step follows them and the drawing binds both per hand, so they live below
// all three.

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

// ---- Reset by resetPerformance; written by the step and the hand drawing. ----
extern HandState rightHand;  // right hand pose
extern HandState leftHand;   // left hand pose

// Planned x (scene units) of a hand's centre, one element per tick of the hand's grid.
using HandPlan = std::vector<float>;

// ---- Rebuilt by the planner at start-up and at every play command. ----
extern HandPlan rightPlan;  // right hand centre per tick; written by planRightHand
extern HandPlan leftPlan;   // left hand centre per tick; written by planLeftHand
