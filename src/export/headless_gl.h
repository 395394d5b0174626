#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Drawing without a window system: a desktop OpenGL compatibility context made through EGL on
// Mesa's surfaceless platform, drawing into an off-screen framebuffer. No X display is needed or
// touched. The drawing is the window's own (drawScene), with GLUT's solids replaced by geometry
// of our own (render/solids_gl.h), and the same lighting and depth test.
//
// The context is made once and kept for the life of the process: the drawing keeps display
// lists (keys, hand shapes) that belong to it. Only the framebuffer follows the picture size.

// Makes the context (the first time) and a framebuffer of width x height, with the window's GL
// state: black background, depth test, light 0 and lighting. false with a one-line reason in
// *error (no newline) when EGL, the context or the framebuffer cannot be had.
bool openHeadless(int width, int height, std::string* error);

// Draws the current state (keyStates, rightHand, leftHand, currentTick, the camera) as the
// window's display callback does, with the projection of render/view_gl.h.
void drawHeadlessFrame();

// Waits until the drawing so far is done (the software renderer draws behind the calls).
void finishHeadlessDrawing();

// The picture drawn last: width * height * 4 bytes, RGBA, rows from the top edge down, or as GL
// keeps them, from the bottom edge up, when topFirst is false (the video encoder reads them
// either way, and turning them over costs a copy of the picture).
// false with a reason when GL reports an error.
bool readHeadlessPixels(std::vector<uint8_t>* rgba, std::string* error, bool topFirst = true);

// Frees the framebuffer (the context stays for a later openHeadless).
void closeHeadless();
