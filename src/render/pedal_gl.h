#pragma once

#include "look/look_camera.h"

// The sustain pedal in the top right corner of the new look: a pedal seen from the side whose
// front goes down while it is held, lit as it goes down. `depth` 0 up .. 1 down; nothing is
// drawn for a depth below 0 (a performance without pedal). Drawn in pixel coordinates (origin
// top left), as the overlay is.
void drawPedal(const LookCamera& camera, float depth);
