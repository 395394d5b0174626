#pragma once

#include "look/look_camera.h"
#include "look/look_frame.h"

// Draws one frame of the new look into the current framebuffer (window or off screen): the note
// lane with its bars and finger numbers, the keyboard with the held keys lit in their hand's
// colour, both hands in the picture's poses, and the overlay.
// The GL state and matrices are as they were afterwards.
//
// The lane and overlay, which are flat, are drawn straight into the framebuffer bound; the rows
// the keyboard and hands cover are drawn off screen and laid over them with smoothed edges
// (render/smooth_gl.h), or straight in where the context cannot do that.
void drawLookFrame(const LookPicture& picture, const LookPerformance& performance,
                   const LookPalette& palette);

// Whether frames whose camera stands still are drawn over a kept picture of the keyboard at
// rest (the default; the picture is the same either way). Off, every frame is drawn whole.
void keepLookKeyboardAtRest(bool keep);

// Whether the frame drawn last was drawn over the kept keyboard at rest.
bool lookFrameDrawnOverRest();

// The pixels of the frame drawn last that were laid from the kept keyboard at rest, smoothed
// afresh, and drawn afresh in the strip (0, 0 and the strip's whole when drawn whole), for the
// benchmark's split.
struct LookStripPixels {
    long kept = 0;
    long smoothed = 0;
    long redrawn = 0;
};
LookStripPixels lookStripPixels();
