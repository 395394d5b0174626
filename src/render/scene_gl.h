#pragma once

// Clear, then the scene inside a push and a pop of the modelview matrix: one frame, not shown.
void drawFrame();
// GLUT display callback: drawFrame, then swap.
void onDisplay();
// GLUT reshape callback: remember the size, set the projection and the viewport. A size of zero
// in either direction is ignored: the last good size and projection stay.
void onReshape(int width, int height);
// Keeps the heap's free top in the process instead of handing it back to the kernel at the end
// of every frame. The software GL driver bins every frame's triangles into 64 kB blocks it
// allocates while drawing and frees after the swap, megabytes for the hands; with the C
// library's default trimming those pages were returned and faulted in again, zero-filled, on
// the next frame. Once, at start-up, before the first frame.
void keepFrameMemory();
// Light 0's colours and the shading model; once, after the window exists.
void setUpLighting();
// Light 0's position, in the scene frame of the current modelview matrix.
void placeLight();
// The view from the camera, the light, the keyboard and both hands, into the current modelview
// matrix (onDisplay encloses it in a push and a pop).
void drawScene();
