#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "fingering/planner.h"
#include "geometry/camera.h"
#include "score/score_model.h"
#include "window_fixture.h"

namespace {

using window_test::Picture;

// A camera above the player's side that has the whole keyboard in the picture.
void lookFromAbove(float distance, float pitch, float yaw) {
    cameraDistance = distance;
    cameraPitch = pitch;
    cameraYaw = yaw;
    updateEye();
}

void restKeys() {
    for (KeyState& key : keyStates) {
        key = KeyState{0.0f, 0, 0};
    }
}

// A point on a white key's top face in front of the black keys, in scene coordinates. With
// angle a (degrees) the key turns about the hinge line z = -0.825, front end down.
void whiteKeyTop(double angle, double* y, double* z) {
    const double hingeZ = -0.825;
    const double alongKey = 1.35;  // from the hinge: in front of the black keys
    const double top = 0.15;
    double a = angle * 3.141592654 / 180.0;
    *y = top * std::cos(a) - alongKey * std::sin(a);
    *z = hingeZ + top * std::sin(a) + alongKey * std::cos(a);
}

// A white key far from both hands (which start near x = -1.3 and 1.3).
int whiteKeyNear(double x) {
    int best = -1;
    for (int key = 0; key < 88; ++key) {
        if (KeyLayout[key].black == 0.0f &&
            (best < 0 || std::fabs(KeyLayout[key].x - x) < std::fabs(KeyLayout[best].x - x))) {
            best = key;
        }
    }
    return best;
}

int brightnessOfWhiteKey(const Picture& picture, int key, double angle) {
    double y = 0;
    double z = 0;
    whiteKeyTop(angle, &y, &z);
    int px = 0;
    int py = 0;
    EXPECT_TRUE(window_test::projectPoint(KeyLayout[key].x, y, z, &px, &py)) << key;
    return picture.brightness(px, py);
}

class SceneWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window_test::ensureWindow();
        // No score and no plans: the hands stay where the reset puts them, near the middle.
        rightNotes.clear();
        leftNotes.clear();
        rightPlan.clear();
        leftPlan.clear();
        restKeys();
        resetPerformance();
        lookFromAbove(11.0f, 1.0f, 1.5707964f);
    }
};

TEST_F(SceneWindow, KeysAppearOnABlackBackground) {
    window_test::drawFrameWithoutSwap();
    Picture picture = window_test::readPicture(GL_BACK);
    EXPECT_TRUE(window_test::writePng(picture, QUORVEL_BINARY_DIR "/window_scene.png"));

    // Nothing is drawn along the top row and in the corners.
    for (int x = 0; x < picture.width; ++x) {
        ASSERT_TRUE(picture.isBlack(x, picture.height - 1)) << x;
    }
    EXPECT_TRUE(picture.isBlack(0, 0));
    EXPECT_TRUE(picture.isBlack(picture.width - 1, 0));

    // Both ends of the keyboard and keys between are lit, grey like their material.
    for (int key : {0, 2, 10, 29, 60, 80, 87}) {
        ASSERT_EQ(KeyLayout[key].black, 0.0f);
        double y = 0;
        double z = 0;
        whiteKeyTop(0.0, &y, &z);
        int px = 0;
        int py = 0;
        ASSERT_TRUE(window_test::projectPoint(KeyLayout[key].x, y, z, &px, &py)) << key;
        const unsigned char* rgb = picture.at(px, py);
        EXPECT_GT(rgb[0], 100) << key;
        EXPECT_EQ(rgb[0], rgb[1]) << key;
        EXPECT_EQ(rgb[1], rgb[2]) << key;
    }
    // Beyond either end there is no key.
    int px = 0;
    int py = 0;
    ASSERT_TRUE(window_test::projectPoint(KeyLayout[0].x - 0.4, 0.15, 0.0, &px, &py));
    EXPECT_TRUE(picture.isBlack(px, py));
    ASSERT_TRUE(window_test::projectPoint(KeyLayout[87].x + 0.4, 0.15, 0.0, &px, &py));
    EXPECT_TRUE(picture.isBlack(px, py));
}

TEST_F(SceneWindow, PressedKeyIsDarkerAndItsAngleIsClamped) {
    int pressed = whiteKeyNear(-5.0);
    int resting = whiteKeyNear(-5.0 - 0.315 * 2);
    ASSERT_GE(pressed, 0);
    keyStates[pressed].angle = 25.0f;
    window_test::drawFrameWithoutSwap();
    Picture picture = window_test::readPicture(GL_BACK);
    EXPECT_TRUE(window_test::writePng(picture, QUORVEL_BINARY_DIR "/window_pressed_key.png"));

    EXPECT_EQ(keyStates[pressed].angle, 10.0f);
    int down = brightnessOfWhiteKey(picture, pressed, 10.0);
    int up = brightnessOfWhiteKey(picture, resting, 0.0);
    EXPECT_GT(down, 0);
    EXPECT_LT(down + 30, up) << "pressed " << down << ", resting " << up;

    // A key just short of full press keeps the resting material.
    keyStates[pressed].angle = 9.99f;
    window_test::drawFrameWithoutSwap();
    picture = window_test::readPicture(GL_BACK);
    EXPECT_EQ(keyStates[pressed].angle, 9.99f);
    EXPECT_GE(brightnessOfWhiteKey(picture, pressed, 9.99) + 6, up);
}

TEST_F(SceneWindow, LightStaysInTheSceneWhenTheCameraMoves) {
    int key = whiteKeyNear(4.5);
    window_test::drawFrameWithoutSwap();
    Picture first = window_test::readPicture(GL_BACK);
    const int firstBrightness = brightnessOfWhiteKey(first, key, 0.0);

    // The light's position, as GL keeps it in eye coordinates, is the scene point (1, 1, 1.5)
    // carried through this frame's view transform.
    auto expectLightAtSceneHome = [] {
        GLfloat model[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, model);
        GLfloat light[4];
        glGetLightfv(GL_LIGHT0, GL_POSITION, light);
        const float home[4] = {1.0f, 1.0f, 1.5f, 1.0f};
        for (int row = 0; row < 4; ++row) {
            float expected = 0;
            for (int col = 0; col < 4; ++col) {
                expected += model[col * 4 + row] * home[col];
            }
            EXPECT_NEAR(light[row], expected, 1e-4) << row;
        }
    };
    expectLightAtSceneHome();
    GLfloat firstLight[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, firstLight);

    lookFromAbove(9.0f, 0.7f, 1.5707964f + 0.5f);
    window_test::drawFrameWithoutSwap();
    Picture second = window_test::readPicture(GL_BACK);
    EXPECT_TRUE(window_test::writePng(second, QUORVEL_BINARY_DIR "/window_turned.png"));
    expectLightAtSceneHome();
    GLfloat secondLight[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, secondLight);
    EXPECT_GT(std::fabs(secondLight[0] - firstLight[0]) + std::fabs(secondLight[2] - firstLight[2]),
              0.1f);

    // The key's top is lit the same from both places: its light comes from the same point, and
    // the keys' specular term does not depend on the viewer.
    const int secondBrightness = brightnessOfWhiteKey(second, key, 0.0);
    EXPECT_GT(firstBrightness, 0);
    EXPECT_NEAR(firstBrightness, secondBrightness, 9);
}

TEST_F(SceneWindow, DisplayShowsTheFrameAndEmptyReshapesKeepTheView) {
    // A display leaves the modelview matrix as it found it, so every frame starts from the
    // same place, and it applies the keyboard's clamp like any frame.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    GLint depthBefore = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);
    keyStates[50].angle = 12.5f;
    onDisplay();
    onDisplay();
    EXPECT_EQ(keyStates[50].angle, 10.0f);
    GLint depthAfter = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
    EXPECT_EQ(depthAfter, depthBefore);
    GLdouble model[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(model[i], i % 5 == 0 ? 1.0 : 0.0) << i;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    GLdouble before[16];
    glGetDoublev(GL_PROJECTION_MATRIX, before);
    onReshape(800, 0);
    onReshape(0, 400);
    onReshape(0, 0);
    EXPECT_EQ(windowWidth, 800);
    EXPECT_EQ(windowHeight, 400);
    GLdouble after[16];
    glGetDoublev(GL_PROJECTION_MATRIX, after);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(before[i], after[i]) << i;
    }
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 400);

    // A real size takes effect: aspect 2 with a 60 degree vertical field of view.
    onReshape(1000, 500);
    EXPECT_EQ(windowWidth, 1000);
    EXPECT_EQ(windowHeight, 500);
    glGetDoublev(GL_PROJECTION_MATRIX, after);
    const double focal = 1.0 / std::tan(30.0 * 3.14159265358979 / 180.0);
    EXPECT_NEAR(after[5], focal, 1e-6);
    EXPECT_NEAR(after[0], focal / 2.0, 1e-6);
    EXPECT_NEAR(after[10], (15.0 + 0.5) / (0.5 - 15.0), 1e-6);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 1000);
    EXPECT_EQ(viewport[3], 500);
    onReshape(window_test::kWidth, window_test::kHeight);
}

}  // namespace
