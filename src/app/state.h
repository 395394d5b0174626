#pragma once

#include "animation/performance.h"
#include "geometry/camera.h"

// The application shell's start-up. The shared variables live with the module that owns them:
// the score in score/score_model.h, the plans and hand poses in geometry/hand_state.h, keys in
// animation/animation.h, the play mode, the timer's pace and the start values in
// animation/performance.h, the camera and the window's size in geometry/camera.h, the key table
// in geometry/key_layout.h.

// Steps 1 to 10 of start-up: key table, start values, score, key states, reset, plans.
// Returns 0 when the window may open, -1 when the score could not be loaded (the reader has
// already said why).
int startUp(int argc, char** argv);
