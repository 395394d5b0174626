#pragma once

// Perspective of the scene for a window of a given client size.
struct Projection {
    double fieldOfView;  // vertical field of view, degrees
    double aspect;       // width / height of the viewport
    double nearPlane;    // distance of the near clipping plane, scene units
    double farPlane;     // distance of the far clipping plane, scene units
};

// The projection for a client area of width by height pixels. Returns false, and leaves
// *projection alone, when either side is zero or negative: such a window (minimised, or shrunk
// to a line) has no aspect ratio, and the last good projection stays in force.
bool projectionFor(int width, int height, Projection* projection);
