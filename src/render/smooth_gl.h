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

// ---- A picture of the keyboard at rest, kept ----
// Where the camera stands still, most of the strip is the keyboard at rest from frame to frame:
// its smoothed pixels are kept in a picture-sized texture, and a frame draws and smooths only
// where something differs from it.

// As beginSmoothStrip, but the strip is cleared for drawing only inside `redraw` (pixels of the
// picture from its top edge): outside, its depth stands nearest, so that nothing drawn there
// costs more than its depth test. Whatever lies there is taken from the picture at rest.
bool beginSmoothStrip(int width, int height, int top, int bottom,
                      const std::vector<PixelRect>& redraw);

// Rows of the strip's target as made for the strip begun last (it may hold more rows than the
// strip, above it).
int smoothStripTargetRows();

// Lays the rectangles `kept` (not overlapping, kept to rows top..bottom) of the picture at rest
// over the framebuffer bound, as endSmoothStrip lays the strip's. Nothing of the strip is needed
// for it, so it is laid before the strip is drawn: the renderer fills it while the strip is
// still being built, and the strip's own pass (endSmoothStrip over the other rectangles) waits
// for less.
void layRestPicture(int width, int height, int top, int bottom, const std::vector<PixelRect>& kept);

// Begins the strip of the picture at rest: the width x height picture's rows from `top` to its
// bottom edge, to be drawn with the keyboard alone (which lies within them). The picture at rest
// is transparent above them. false when the context cannot give it.
bool beginRestPicture(int width, int height, int top);

// Keeps the smoothed strip begun by beginRestPicture as the picture at rest (what the pass would
// lay over the picture at every pixel), and goes back to the framebuffer bound before without
// changing the picture. false when it cannot be kept.
bool endRestPicture();
