#pragma once

#include "look/look_camera.h"
#include "look/look_frame.h"

// Draws one frame of the new look into the current framebuffer (window or off screen): the note
// lane with its bars and finger numbers, the keyboard with the held keys lit in their hand's
// colour, both hands (their poses from the globals rightHand and leftHand), and the overlay.
// The GL state and matrices are as they were afterwards.
void drawLookFrame(const LookCamera& camera, const LaneLayout& lane, const LookFrame& frame,
                   const LookPerformance& performance, const LookPalette& palette);
