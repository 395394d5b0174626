#pragma once

#include <vector>

#include "look/look_regions.h"

// Smooth edges without multisampling, which the software renderer pays for on every sample:
// the 3-D strip of a picture is drawn into an off-screen texture of its own, then laid over the
// picture in one pass that blends each pixel on an edge with its neighbour across the edge
// (how far, from the local contrast). It costs one read of the strip, not four samples a
// pixel. Works in any GL context with framebuffer objects and GLSL 1.30 (the window's and the
// exporter's); the strip holds the picture's rows top..bottom, texel for pixel.

// Binds the off-screen target (made or remade for the strip's rows), cleared to transparent,
// with a viewport that draws the width x height picture's rows top..bottom (pixels from the
// top edge) onto it, and keeps the framebuffer and viewport before. false when the context
// cannot give it (then nothing is changed and the caller draws directly). Until
// endSmoothStrip the caller does not change the viewport.
bool beginSmoothStrip(int width, int height, int top, int bottom);

// Back to the framebuffer bound before: the strip laid over what it holds, smoothed, its
// transparent pixels showing what is beneath. The matrices and the state beyond the blend, the
// depth test and the bound texture are as they were.
void endSmoothStrip();

// The same, laying over the picture only the rectangles given (within the strip's rows, not
// overlapping): the rest of the strip holds nothing.
void endSmoothStrip(const std::vector<PixelRect>& regions);
