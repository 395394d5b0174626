#pragma once

#include <cstdint>
#include <vector>

// Planned x (scene units) of a hand's centre, one element per tick of the hand's grid.
using HandPlan = std::vector<float>;

// ---- Rebuilt by the planner at start-up and at every play command. ----
extern HandPlan rightPlan;  // right hand centre per tick; written by planRightHand
extern HandPlan leftPlan;   // left hand centre per tick; written by planLeftHand
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
