#pragma once

// The window's mouse callbacks, which turn and zoom the camera (geometry/camera.h).

// GLUT mouse callback: a left press starts rotating, a right press starts zooming.
void onMouse(int button, int state, int x, int y);
// GLUT motion callback: one rotate or zoom step, then a redraw.
void onMotion(int x, int y);
