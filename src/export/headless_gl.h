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
// The same with a second framebuffer of `samples` samples per pixel (0: none) beside the
// picture's own: what is drawn into it has smooth edges once resolved into the picture. Only
// what the drawing resolves (headlessResolve) or draws into the picture directly is read back.
bool openHeadlessSampled(int width, int height, int samples, std::string* error);
// Drawing goes to the multisampled framebuffer, or to the picture's (without samples, the one
// framebuffer there is).
void headlessBindSamples();
void headlessBindPicture();
// Resolves a rectangle (GL's window coordinates, from the bottom left) of the samples' colour
// and depth into the picture, and leaves the picture bound for drawing.
void headlessResolve(int x, int y, int width, int height);

// Draws the current state (keyStates, rightHand, leftHand, currentTick, the camera) as the
// window's display callback does, with the projection of render/view_gl.h.
void drawHeadlessFrame();

// The picture drawn last: width * height * 4 bytes, RGBA, rows from the top edge down.
// false with a reason when GL reports an error.
bool readHeadlessPixels(std::vector<uint8_t>* rgba, std::string* error);

// Frees the framebuffer (the context stays for a later openHeadless).
void closeHeadless();
