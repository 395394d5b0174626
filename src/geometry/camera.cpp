#include "geometry/camera.h"

#include <cmath>

int windowWidth = 800;
int windowHeight = 400;

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

namespace {
// The mouse buttons and the button state as the window system reports them.
constexpr int kLeftButton = 0;
constexpr int kRightButton = 2;
constexpr int kButtonDown = 0;

constexpr double kPi = 3.141592654;
// Half of pi; the eye's z is the cosine of this minus the yaw.
constexpr double kHalfPi = 1.570796327;
// pi / 2.1: the eye stops about 85.71 degrees above or below the centre, never at the vertical,
// where the up vector would be parallel to the line of sight.
constexpr double kPitchLimit = 1.4959965019047619;
// A drag over the whole window turns the camera by this many degrees.
constexpr double kDegreesPerWindow = 180.0;

// One zoom step per motion event, and the range of the eye's distance.
constexpr double kZoomStep = 0.3;
constexpr float kNearestDistance = 2.0f;
constexpr float kFarthestDistance = 12.0f;

void clampPitch() {
    if (cameraPitch > kPitchLimit) {
        cameraPitch = static_cast<float>(kPitchLimit);
    } else if (cameraPitch < -kPitchLimit) {
        cameraPitch = static_cast<float>(-kPitchLimit);
    }
}

// The pointer position a zoom step compares: both coordinates normalised by the width, the
// vertical one counted upwards from the bottom edge.
Point3 zoomPoint(int x, int y) {
    return {normalizeX(x), normalizeX(windowHeight - 1 - y), 0.0f};
}

void rotateStep(int x, int y) {
    // A window with no height or width gives no angle per pixel; that part of the step is left
    // out rather than turning the camera by an infinite or undefined angle.
    if (windowHeight > 0) {
        double degrees = static_cast<double>(lastMouseY - static_cast<float>(y)) *
                         kDegreesPerWindow / windowHeight;
        cameraPitch = static_cast<float>(cameraPitch + degrees * kPi / 180.0);
    }
    if (windowWidth > 0) {
        double degrees = static_cast<double>(lastMouseX - static_cast<float>(x)) *
                         kDegreesPerWindow / windowWidth;
        cameraYaw = static_cast<float>(cameraYaw + degrees * kPi / 180.0);
    }
    clampPitch();
    updateEye();
    lastMouseX = static_cast<float>(x);
    lastMouseY = static_cast<float>(y);
}

void zoomStep(int x, int y) {
    zoomNow = zoomPoint(x, y);
    float now = length(zoomNow);
    float last = length(zoomLast);
    if (now < last) {
        cameraDistance = static_cast<float>(cameraDistance - kZoomStep);
    } else if (now > last) {
        cameraDistance = static_cast<float>(cameraDistance + kZoomStep);
    }
    if (cameraDistance >= kFarthestDistance) {
        cameraDistance = kFarthestDistance;
    } else if (cameraDistance <= kNearestDistance) {
        cameraDistance = kNearestDistance;
    }
    clampPitch();
    updateEye();
    zoomLast = zoomNow;
}
}  // namespace

float normalizeX(int pixel) {
    // Without a width there is no scale; the centre is as good an answer as any and keeps the
    // zoom comparison finite.
    if (windowWidth <= 0) {
        return 0.0f;
    }
    float centre = static_cast<float>((windowWidth - 1) / 2.0);
    float half = static_cast<float>(windowWidth / 2.0);
    return (static_cast<float>(pixel) - centre) / half;
}

void updateEye() {
    float r = cameraDistance;
    float p = cameraPitch;
    float a = cameraYaw;
    float horizontal = std::cos(p) * r;
    cameraEye.x = std::cos(a) * horizontal;
    cameraEye.y = std::sin(p) * r;
    cameraEye.z = static_cast<float>(std::cos(kHalfPi - a) * horizontal);
}

void cameraPress(int button, int state, int x, int y) {
    if (state != kButtonDown) {
        return;
    }
    if (button == kLeftButton) {
        lastMouseX = static_cast<float>(x);
        lastMouseY = static_cast<float>(y);
        zoomDrag = 0;
    } else if (button == kRightButton) {
        zoomDrag = 1;
        zoomLast = zoomPoint(x, y);
    }
}

void cameraDrag(int x, int y) {
    if (zoomDrag == 0) {
        rotateStep(x, y);
    } else {
        zoomStep(x, y);
    }
}
