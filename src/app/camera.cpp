#include "app/camera.h"

float cameraDistance = 5.0f;
float cameraPitch = 0.0f;
float cameraYaw = 0.0f;
Point3 cameraEye = {5.0f, 0.0f, 0.0f};
Point3 cameraCenter = {0.0f, 0.0f, 0.0f};
Point3 cameraUp = {0.0f, 1.0f, 0.0f};

int zoomDrag = 0;
float lastMouseX = 0.0f;
float lastMouseY = 0.0f;
Point3 zoomLast = {0.0f, 0.0f, 0.0f};
Point3 zoomNow = {0.0f, 0.0f, 0.0f};

// TODO(window): normalizeX, updateEye, onMouse, onMotion.
float normalizeX(int) { return 0.0f; }
void updateEye() {}
void onMouse(int, int, int, int) {}
void onMotion(int, int) {}
