#pragma once

// glutInit, a double-buffered RGB window with a depth buffer of this size, place and title on a
// black background, and the window system's timer and redisplay installed into the platform
// seam. The caller registers its callbacks next.
// `extraMode` is or-ed into the display mode (GLUT_MULTISAMPLE for smooth edges).
void createGlutWindow(int argc, char** argv, int width, int height, int left, int top,
                      const char* title, unsigned extraMode = 0);
// Depth test, light 0 and lighting, and the frame memory kept: the GL state every frame needs.
void enableSceneState();

// Steps 11 to 19 of start-up after glutInit: the window, the callbacks, the GL state, and the
// window system's functions installed into the platform seam. Returns with the window open and
// nothing drawn yet; tests and benchmarks drive frames from here.
void openWindow(int argc, char** argv);

// openWindow, then hand control to the GLUT main loop. Does not return.
void runWindow(int argc, char** argv);
