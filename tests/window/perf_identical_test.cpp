// The compiled solids must not change the picture: frames of the bundled score drawn with the
// shape cache bypassed, with it compiling and with it replaying are compared byte for byte. The
// cache must also stop growing once every shape of the hands has been drawn once.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "geometry/camera.h"
#include "render/shapes_gl.h"
#include "score/score_model.h"
#include "window/window_fixture.h"

namespace {

using window_test::Picture;

class IdenticalFrames : public ::testing::Test {
protected:
    void SetUp() override {
        window_test::ensureWindow();
        static char program[] = "test_window";
        static char score[] = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml";
        char* argv[] = {program, score, nullptr};
        ASSERT_EQ(startUp(2, argv), 0);
        ASSERT_FALSE(rightNotes.empty());
    }
    void TearDown() override { saved.restore(); }
    window_test::SavedProgram saved;
};

// From above the player's side, with all 88 keys and both hands in the picture.
void lookAtWholeKeyboard() {
    cameraDistance = 11.0f;
    cameraPitch = 1.0f;
    cameraYaw = 1.5707964f;
    updateEye();
}

// A close view of both hands, so that fingers cover many pixels.
void lookAtHands() {
    const float middle = (rightHand.position.x + leftHand.position.x) / 2;
    cameraEye = {middle, 3.2f, 3.6f};
    cameraCenter = {middle, 0.0f, 0.0f};
    cameraUp = {0.0f, 1.0f, 0.0f};
}

Picture frameWithCache(bool enabled) {
    shapeCacheEnabled = enabled;
    window_test::drawFrameWithoutSwap();
    return window_test::readPicture(GL_BACK);
}

// Pixels that differ, so that a failure says how far apart the pictures are.
int differingPixels(const Picture& a, const Picture& b) {
    int count = 0;
    for (std::size_t i = 0; i + 2 < a.rgb.size() && i + 2 < b.rgb.size(); i += 3) {
        if (a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2]) {
            ++count;
        }
    }
    return count;
}

// Cyan pixels: a comparison of two pictures without hands in them would prove nothing.
int handPixels(const Picture& picture) {
    int count = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const unsigned char* p = picture.at(x, y);
            count += p[0] < 40 && p[1] > 60 && p[2] > 60 ? 1 : 0;
        }
    }
    return count;
}

bool anyKeyDown() {
    for (const KeyState& key : keyStates) {
        if (key.angle > 0.0f) {
            return true;
        }
    }
    return false;
}

// Draws the current state with the cache bypassed, then twice through an emptied cache (the
// first frame compiles every shape, the second replays them), and expects three identical
// pictures.
void expectSamePictureWithAndWithoutCache(const std::string& name) {
    const Picture direct = frameWithCache(false);
    releaseShapeCache();
    const Picture first = frameWithCache(true);
    const Picture replayed = frameWithCache(true);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_GT(handPixels(direct), 2000) << name << ": the hands are not in the picture";
    EXPECT_TRUE(direct.rgb == first.rgb)
        << name << ": " << differingPixels(direct, first) << " pixels differ";
    EXPECT_TRUE(direct.rgb == replayed.rgb)
        << name << ": " << differingPixels(direct, replayed) << " pixels differ";
    if (direct.rgb != replayed.rgb) {
        window_test::writePng(direct, QUORVEL_BINARY_DIR "/identical_" + name + "_direct.png");
        window_test::writePng(replayed, QUORVEL_BINARY_DIR "/identical_" + name + "_cached.png");
    }
}

}  // namespace

TEST_F(IdenticalFrames, CompiledShapesDrawTheSamePixels) {
    // The bundled score as the program opens it, from afar and from close by.
    lookAtWholeKeyboard();
    expectSamePictureWithAndWithoutCache("start");
    lookAtHands();
    expectSamePictureWithAndWithoutCache("start_close");

    // Mid-play, a few ticks in, stopped as soon as a key is on its way down or fully down:
    // hands gliding, fingers raised, keys tilted and drawn in their pressed material.
    const int32_t ticks = static_cast<int32_t>(rightNotes.size());
    int steps = 0;
    while (currentTick < ticks && steps < 8 * 64 && !(steps > 8 * 3 && anyKeyDown())) {
        animationStep();
        ++steps;
    }
    ASSERT_TRUE(anyKeyDown()) << "no key is down after " << steps << " steps";
    lookAtHands();
    expectSamePictureWithAndWithoutCache("midplay_close");
    lookAtWholeKeyboard();
    expectSamePictureWithAndWithoutCache("midplay");
}

TEST_F(IdenticalFrames, EachShapeIsCompiledOnceAndTheCacheStaysBounded) {
    releaseShapeCache();
    shapeCacheEnabled = true;
    lookAtWholeKeyboard();
    window_test::drawFrameWithoutSwap();
    const int shapes = cachedShapeCount();
    EXPECT_GT(shapes, 0);
    EXPECT_LT(shapes, kShapeCacheCapacity);

    // Playing on moves hands, fingers and keys, but every solid keeps its size: nothing new.
    const int32_t ticks = static_cast<int32_t>(rightNotes.size());
    for (int step = 0; step < 8 * 16 && currentTick < ticks; ++step) {
        animationStep();
        window_test::drawFrameWithoutSwap();
    }
    EXPECT_EQ(cachedShapeCount(), shapes);

    // A shape first met while another list is being compiled goes into that list instead.
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    const GLuint outer = glGenLists(1);
    glNewList(outer, GL_COMPILE);
    drawSolidSphere(0.5, 7, 5);
    glEndList();
    EXPECT_EQ(cachedShapeCount(), shapes);
    glCallList(outer);
    glDeleteLists(outer, 1);

    // Past its capacity the cache keeps no more shapes; the rest are still drawn.
    GLUquadric* quadric = gluNewQuadric();
    for (int i = 0; i < kShapeCacheCapacity + 4; ++i) {
        drawSolidSphere(0.01 * (i + 1), 6, 4);
        drawCylinder(quadric, 0.1, 0.05, 0.01 * (i + 1), 6, 2);
    }
    gluDeleteQuadric(quadric);
    glPopMatrix();
    EXPECT_EQ(cachedShapeCount(), kShapeCacheCapacity);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    releaseShapeCache();
    EXPECT_EQ(cachedShapeCount(), 0);
}
