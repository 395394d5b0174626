#pragma once

#include <cstdint>
#include <vector>

#include "geometry/hand_state.h"

// Animation state of one key.
struct KeyState {
    float angle;       // press angle in degrees: 0 at rest, 10 fully pressed
    int32_t paused;    // 0 lets the key travel down in phases 1 to 5
    int32_t reserved;  // always 0
};

// ---- Created at start-up (88 records); reset by resetPerformance; written by the step. ----
extern std::vector<KeyState> keyStates;  // per key 0..87; the keyboard drawing clamps angle to 10

// ---- Reset by resetPerformance; written by the step. ----
extern int32_t tickPhase;  // phase 0..7 of currentTick; also zeroed by the play commands

// Advance the performance by one eighth of a tick. Requires 0 <= currentTick < rightNotes.size().
void animationStep();
