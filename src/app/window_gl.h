#pragma once

// Steps 11 to 20 of start-up: open the window, register the callbacks, set up the GL state and
// hand control to the GLUT main loop. Does not return.
void runWindow(int argc, char** argv);
