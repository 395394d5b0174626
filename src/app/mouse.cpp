#include "app/mouse.h"

#include "app/platform.h"
#include "geometry/camera.h"

void onMouse(int button, int state, int x, int y) {
    cameraPress(button, state, x, y);
}

void onMotion(int x, int y) {
    cameraDrag(x, y);
    platform.postRedisplay();
}
