#include "geometry/camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/mouse.h"
#include "app/platform.h"
#include "app/state.h"

namespace {

constexpr double kPitchLimit = 1.4959965019047619;
constexpr int kLeft = 0;
constexpr int kMiddle = 1;
constexpr int kRight = 2;
constexpr int kDown = 0;
constexpr int kUp = 1;

int redisplays = 0;
void countRedisplay() {
    ++redisplays;
}

// Start values of the camera, an 800 x 400 window, and a seam that counts redisplay requests.
class Camera : public ::testing::Test {
protected:
    void SetUp() override {
        saved = platform;
        platform.postRedisplay = countRedisplay;
        redisplays = 0;
        windowWidth = 800;
        windowHeight = 400;
        cameraDistance = 5.0f;
        cameraPitch = 0.0f;
        cameraYaw = 0.0f;
        cameraCenter = {0, 0, 0};
        cameraUp = {0, 1, 0};
        zoomDrag = 0;
        lastMouseX = 0.0f;
        lastMouseY = 0.0f;
        zoomLast = {0, 0, 0};
        zoomNow = {0, 0, 0};
        updateEye();
    }
    void TearDown() override { platform = saved; }
    Platform saved;
};

TEST_F(Camera, NormalizeXSpansTheWidth) {
    EXPECT_FLOAT_EQ(normalizeX(0), -0.99875f);
    EXPECT_FLOAT_EQ(normalizeX(799), 0.99875f);
    EXPECT_FLOAT_EQ(normalizeX(400), 0.00125f);
    // The vertical coordinate is normalised by the width too: every row maps into [-1, 0).
    EXPECT_FLOAT_EQ(normalizeX(399), -0.00125f);
    windowWidth = 1000;
    EXPECT_FLOAT_EQ(normalizeX(0), -0.999f);
}

TEST_F(Camera, StartEyeSitsOnThePlusXAxis) {
    EXPECT_EQ(cameraEye.x, 5.0f);
    EXPECT_EQ(cameraEye.y, 0.0f);
    // cos(1.570796327) in double is about -2.05e-10, not zero.
    EXPECT_LT(cameraEye.z, 0.0f);
    EXPECT_NEAR(cameraEye.z, -1.026e-9, 0.01e-9);
    EXPECT_EQ(cameraEye.z, static_cast<float>(5.0 * std::cos(1.570796327)));
}

TEST_F(Camera, EyeFollowsDistancePitchAndYaw) {
    cameraDistance = 10.0f;
    cameraPitch = 0.5f;
    cameraYaw = 1.0f;
    updateEye();
    EXPECT_NEAR(cameraEye.x, std::cos(1.0) * std::cos(0.5) * 10.0, 1e-5);
    EXPECT_NEAR(cameraEye.y, std::sin(0.5) * 10.0, 1e-5);
    EXPECT_NEAR(cameraEye.z, std::sin(1.0) * std::cos(0.5) * 10.0, 1e-5);
    EXPECT_NEAR(length(cameraEye), 10.0f, 1e-5);
}

TEST_F(Camera, ZoomDragTowardsTheOriginComesNearer) {
    onMouse(kRight, kDown, 400, 200);
    EXPECT_EQ(zoomDrag, 1);
    EXPECT_FLOAT_EQ(zoomLast.x, 0.00125f);
    EXPECT_FLOAT_EQ(zoomLast.y, -0.50125f);
    EXPECT_EQ(zoomLast.z, 0.0f);
    EXPECT_EQ(redisplays, 0);

    onMotion(400, 100);
    EXPECT_FLOAT_EQ(zoomNow.x, 0.00125f);
    EXPECT_FLOAT_EQ(zoomNow.y, -0.25125f);
    EXPECT_EQ(cameraDistance, 4.7f);
    EXPECT_EQ(zoomLast.x, zoomNow.x);
    EXPECT_EQ(zoomLast.y, zoomNow.y);
    EXPECT_NEAR(cameraEye.x, 4.7f, 1e-6);
    EXPECT_EQ(redisplays, 1);

    // Moving away zooms out again; one step per event however far the pointer went.
    onMotion(400, 399);
    EXPECT_FLOAT_EQ(cameraDistance, 5.0f);
    EXPECT_EQ(redisplays, 2);
}

TEST_F(Camera, ZoomStopsExactlyAtItsLimits) {
    // Walking down the window row by row moves away from the origin (above the top edge).
    onMouse(kRight, kDown, 400, 0);
    for (int y = 1; y < 60; ++y) {
        onMotion(400, y);
    }
    EXPECT_EQ(cameraDistance, 12.0f);
    for (int y = 60; y > 0; --y) {
        onMotion(400, y);
    }
    EXPECT_EQ(cameraDistance, 2.0f);
    EXPECT_NEAR(length(cameraEye), 2.0f, 1e-5);
}

TEST_F(Camera, EqualLengthChangesNothingButStillRedraws) {
    onMouse(kRight, kDown, 300, 200);
    cameraPitch = 0.3f;  // recomputing the eye must pick this up
    Point3 before = cameraEye;
    // Mirror image about the centre column: the same distance from the origin.
    onMotion(499, 200);
    EXPECT_FLOAT_EQ(length(zoomNow), length(Point3{normalizeX(300), normalizeX(199), 0}));
    EXPECT_EQ(cameraDistance, 5.0f);
    EXPECT_EQ(redisplays, 1);
    EXPECT_NE(cameraEye.y, before.y);
    EXPECT_NEAR(cameraEye.y, std::sin(0.3) * 5.0, 1e-5);
}

TEST_F(Camera, RotateDragTurnsPitchAndYaw) {
    onMouse(kLeft, kDown, 400, 200);
    EXPECT_EQ(zoomDrag, 0);
    EXPECT_EQ(lastMouseX, 400.0f);
    EXPECT_EQ(lastMouseY, 200.0f);
    onMotion(400, 100);
    EXPECT_NEAR(cameraPitch, 0.7853981635, 1e-6);
    EXPECT_EQ(cameraYaw, 0.0f);
    EXPECT_EQ(lastMouseY, 100.0f);
    EXPECT_EQ(redisplays, 1);
    EXPECT_NEAR(cameraEye.y, 5.0 * std::sin(0.7853981635), 1e-5);

    // Further up: the pitch stops at the float nearest pi / 2.1 and stays there.
    onMotion(400, -200);
    EXPECT_EQ(cameraPitch, static_cast<float>(kPitchLimit));
    onMotion(400, -600);
    EXPECT_EQ(cameraPitch, static_cast<float>(kPitchLimit));
    onMotion(400, 1400);
    EXPECT_EQ(cameraPitch, static_cast<float>(-kPitchLimit));

    // Dragging right by the whole width lowers the yaw by pi, again and again, unwrapped.
    onMouse(kLeft, kDown, 0, 200);
    onMotion(800, 200);
    EXPECT_NEAR(cameraYaw, -3.141592654, 1e-6);
    onMouse(kLeft, kDown, 0, 200);
    onMotion(800, 200);
    onMouse(kLeft, kDown, 0, 200);
    onMotion(800, 200);
    EXPECT_NEAR(cameraYaw, -3 * 3.141592654, 1e-5);
    EXPECT_NEAR(cameraEye.z, 0.0f, 1e-4);
    EXPECT_LT(cameraEye.x, 0.0f);
}

TEST_F(Camera, ReleasesAndMiddlePressesChangeNothing) {
    onMouse(kRight, kDown, 100, 50);
    Point3 lastZoom = zoomLast;
    Point3 eye = cameraEye;
    onMouse(kRight, kUp, 700, 300);
    onMouse(kLeft, kUp, 700, 300);
    onMouse(kMiddle, kDown, 700, 300);
    onMouse(kMiddle, kUp, 700, 300);
    EXPECT_EQ(zoomDrag, 1);
    EXPECT_EQ(zoomLast.x, lastZoom.x);
    EXPECT_EQ(zoomLast.y, lastZoom.y);
    EXPECT_EQ(lastMouseX, 0.0f);
    EXPECT_EQ(lastMouseY, 0.0f);
    EXPECT_EQ(cameraEye.x, eye.x);
    EXPECT_EQ(cameraDistance, 5.0f);
    EXPECT_EQ(redisplays, 0);

    // A middle-button drag after the right press zooms (GLUT reports the motion alone).
    // Upwards is towards the normalised origin, just above the window.
    onMotion(100, 10);
    EXPECT_FLOAT_EQ(cameraDistance, 4.7f);
    EXPECT_EQ(cameraPitch, 0.0f);

    // A left press switches later drags back to rotating.
    onMouse(kLeft, kDown, 100, 200);
    onMotion(100, 300);
    EXPECT_FLOAT_EQ(cameraDistance, 4.7f);
    EXPECT_LT(cameraPitch, 0.0f);
}

TEST_F(Camera, EmptyWindowLeavesTheCameraFinite) {
    windowWidth = 0;
    windowHeight = 0;
    EXPECT_EQ(normalizeX(10), 0.0f);
    onMouse(kLeft, kDown, 10, 10);
    onMotion(200, 300);
    EXPECT_EQ(cameraPitch, 0.0f);
    EXPECT_EQ(cameraYaw, 0.0f);
    EXPECT_TRUE(std::isfinite(cameraEye.x) && std::isfinite(cameraEye.y) &&
                std::isfinite(cameraEye.z));
    EXPECT_EQ(redisplays, 1);

    // Height gone, width still there: the yaw still turns.
    windowWidth = 800;
    onMouse(kLeft, kDown, 400, 10);
    onMotion(0, 300);
    EXPECT_EQ(cameraPitch, 0.0f);
    EXPECT_NEAR(cameraYaw, 3.141592654 / 2, 1e-5);

    windowWidth = 0;
    onMouse(kRight, kDown, 10, 10);
    onMotion(700, 300);
    EXPECT_EQ(cameraDistance, 5.0f);
    EXPECT_TRUE(std::isfinite(zoomNow.x) && std::isfinite(zoomNow.y));
}

}  // namespace
