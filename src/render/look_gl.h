#pragma once

#include "look/look_camera.h"
#include "look/look_frame.h"

// Draws one frame of the new look into the current framebuffer (window or off screen): the note
// lane with its bars and finger numbers, the keyboard with the held keys lit in their hand's
// colour, both hands in the picture's poses, and the overlay.
// The GL state and matrices are as they were afterwards.
//
// Where it draws: with no targets, everything into the framebuffer bound (a window asks for
// its samples itself). With targets, only the rows the keyboard and hands cover are drawn into
// a multisampled framebuffer and resolved into the picture, and the lane and overlay, which
// are flat, are drawn into the picture directly: smooth edges for the cost of a strip.
struct LookTargets {
    void (*samples)();                                     // bind the multisampled framebuffer
    void (*picture)();                                     // bind the picture's framebuffer
    void (*resolve)(int x, int y, int width, int height);  // samples -> picture (GL's corner)
};
void drawLookFrame(const LookPicture& picture, const LookPerformance& performance,
                   const LookPalette& palette, const LookTargets* targets = nullptr);
