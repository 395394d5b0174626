#pragma once

#include "geometry/point3.h"

// The classic view's camera: the eye on a sphere around the keyboard, turned and zoomed by mouse
// drags over a window of the size below.

// ---- Set at start-up; rewritten by every reshape of the window (render/scene_gl). ----
extern int windowWidth;   // client width of the window, pixels
extern int windowHeight;  // client height of the window, pixels

// ---- Set at start-up; changed by mouse drags. ----
extern float cameraDistance;  // radius of the eye's sphere around the centre, 2.0 .. 12.0
extern float cameraPitch;     // elevation of the eye, radians, within +-pi/2.1
extern float cameraYaw;       // azimuth of the eye, radians, 0 on +x; accumulates unwrapped
extern Point3 cameraEye;      // eye position handed to gluLookAt; derived by updateEye
extern Point3 cameraCenter;   // look-at centre, (0, 0, 0) for the whole run
extern Point3 cameraUp;       // up vector, (0, 1, 0) for the whole run

// ---- Drag state; written by onMouse and onMotion. ----
extern int zoomDrag;      // 1 after a right press (drags zoom), 0 after a left press
extern float lastMouseX;  // pointer x of the last left press or rotate step, pixels
extern float lastMouseY;  // pointer y of the last left press or rotate step, pixels
extern Point3 zoomLast;   // normalised pointer of the last right press or zoom step
extern Point3 zoomNow;    // normalised pointer of the zoom step in progress

// Map a pixel coordinate onto about -1 .. 1 across the window's width.
float normalizeX(int pixel);
// Recompute cameraEye from distance, pitch and yaw.
void updateEye();
// A mouse button event (buttons and states numbered as the window system numbers them): a left
// press starts rotating, a right press starts zooming. The window's callbacks are in app/mouse.h.
void cameraPress(int button, int state, int x, int y);
// A pointer move with a button held: one rotate or zoom step.
void cameraDrag(int x, int y);
