#pragma once

#include <cstdint>
#include <vector>

#include "geometry/hand_state.h"

// The hand plans (rightPlan, leftPlan) are declared with the hands' poses in hand_state.h.

// ---- Rebuilt by the planner at start-up and at every play command. ----
// Ticks at which the last run had to push a note out of the hand (a note no finger region could
// take), listed once per such note in tick order; written by planRightHand / planLeftHand, read
// by tests and diagnostics to tell a deliberate overwrite from a lost note.
extern std::vector<int32_t> rightFallbackTicks;
extern std::vector<int32_t> leftFallbackTicks;

// Plan the right hand over rightNotes: fill rightPlan and put each note into its finger's slot.
void planRightHand();
// The same for the left hand over leftNotes and leftPlan.
void planLeftHand();

// What the play commands run to plan both hands again before playback starts. By default
// planRightHand then planLeftHand; a mode that plans with another planner points it elsewhere.
extern void (*replanHands)();
