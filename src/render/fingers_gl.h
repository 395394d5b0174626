#pragma once

#include "geometry/solvers.h"

// Draw a three-segment finger bent so that its tip reaches the target: solveFinger, then the
// rotations and solids. Draws into the current modelview matrix and leaves it rotated and
// translated, so callers bracket it with glPushMatrix and glPopMatrix.
void drawFinger(const FingerParams& params);

// Draw the two-segment thumb the same way. The caller has already translated to the thumb base
// and turned the frame -90 degrees about x (y down, z along the palm's +y).
void drawThumb(const ThumbParams& params);
