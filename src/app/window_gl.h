#pragma once

// Steps 11 to 19 of start-up after glutInit: the window, the callbacks, the GL state, and the
// window system's functions installed into the platform seam. Returns with the window open and
// nothing drawn yet; tests and benchmarks drive frames from here.
void openWindow(int argc, char** argv);

// openWindow, then hand control to the GLUT main loop. Does not return.
void runWindow(int argc, char** argv);
