// The two hands drawn into the real window: they appear in hand colour where their plans put
// them, their playing fingers reach down to their keys, and degenerate targets do not spoil the
// frame.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "geometry/camera.h"
#include "geometry/hand_model.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"
#include "window/window_fixture.h"

namespace {

using window_test::Picture;

// Hand material is cyan: no red at all, as much green as blue.
bool isHandColour(const Picture& picture, int x, int y) {
    const unsigned char* p = picture.at(x, y);
    return p[0] < 40 && p[1] > 60 && p[2] > 60 && std::abs(p[1] - p[2]) < 24;
}

// Hand-coloured pixels in the square of half-width `radius` around (x, y).
int handPixelsAround(const Picture& picture, int x, int y, int radius) {
    int count = 0;
    for (int py = y - radius; py <= y + radius; ++py) {
        for (int px = x - radius; px <= x + radius; ++px) {
            if (px >= 0 && px < picture.width && py >= 0 && py < picture.height &&
                isHandColour(picture, px, py)) {
                ++count;
            }
        }
    }
    return count;
}

// A palm-frame point of a hand, in scene coordinates: the hand frame is the scene translated
// to (position.x, position.z, position.y) and turned -90 degrees about x.
void palmToScene(const HandState& hand, float x, float y, float z, double out[3]) {
    out[0] = hand.position.x + x;
    out[1] = hand.position.z + z;
    out[2] = hand.position.y - y;
}

NoteEvent event(int32_t thumb, int32_t index, int32_t middle, int32_t ring, int32_t little) {
    return NoteEvent{{{thumb, 0}, {index, 0}, {middle, 0}, {ring, 0}, {little, 0}}};
}

class HandsWindow : public ::testing::Test {
protected:
    void TearDown() override { saved.restore(); }
    window_test::SavedProgram saved;
};

// A two-tick score: the right hand plays C5, E5 and G5 around its centre, the left hand C3 and
// G3; both hands are at their start poses, at tick 0, seen from above the player's side.
void setUpHands() {
    window_test::ensureWindow();
    resetPerformance();
    rightNotes = {event(51, kNoKey, 55, kNoKey, 58), kEmptyEvent};
    leftNotes = {event(34, kNoKey, kNoKey, kNoKey, 27), kEmptyEvent};
    rightPlan = {KeyLayout[55].x, KeyLayout[55].x};
    leftPlan = {KeyLayout[30].x, KeyLayout[30].x};
    currentTick = 0;
    cameraEye = {0.0f, 4.5f, 4.0f};
    cameraCenter = {0.0f, 0.0f, 0.0f};
    cameraUp = {0.0f, 1.0f, 0.0f};
}

}  // namespace

TEST_F(HandsWindow, HandsAppearWherePlansPutThemAndFingersReachTheirKeys) {
    setUpHands();
    window_test::drawFrameWithoutSwap();
    const Picture picture = window_test::readPicture(GL_BACK);
    const std::string path = std::string(QUORVEL_BINARY_DIR) + "/hands_window.png";
    EXPECT_TRUE(window_test::writePng(picture, path)) << path;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // The first frame put both hands on their plans.
    EXPECT_EQ(rightHand.position.x, rightPlan[0]);
    EXPECT_EQ(leftHand.position.x, leftPlan[0]);

    // Each palm centre is covered in hand colour.
    for (const HandState* hand : {&rightHand, &leftHand}) {
        double centre[3];
        palmToScene(*hand, 0, 0, 0, centre);
        int px = 0;
        int py = 0;
        ASSERT_TRUE(window_test::projectPoint(centre[0], centre[1], centre[2], &px, &py));
        EXPECT_GT(handPixelsAround(picture, px, py, 6), 150) << "palm at " << px << "," << py;
    }

    // The tip of every playing finger is drawn over its key: the solver puts it on the target
    // (the key's centre across, the finger's depth and height), the drawn base 0.05 further out
    // along the base direction.
    const HandDimensions d = computeHandDimensions();
    for (const HandMirror* mirror : {&rightMirror, &leftMirror}) {
        const HandState& hand = *mirror->hand;
        const NoteEvent& now = (*mirror->notes)[0];
        for (int k = 1; k <= 4; ++k) {
            const int32_t key = now.slot[k].key;
            if (key == kNoKey) {
                continue;
            }
            EXPECT_FLOAT_EQ(hand.position.x + hand.fingers[k].x, KeyLayout[key].x);
            const FingerAngles a = solveFinger(fingerParams(*mirror, d, k));
            const double rad = mirror->baseAngles[k] * M_PI / 180;
            const double shift = d.fingerBaseDistance - d.solverBaseDistance;
            double tip[3];
            palmToScene(hand, static_cast<float>(hand.fingers[k].x + shift * std::cos(rad)),
                        static_cast<float>(a.targetY + shift * std::sin(rad)),
                        -std::fabs(hand.fingers[k].z), tip);
            int px = 0;
            int py = 0;
            ASSERT_TRUE(window_test::projectPoint(tip[0], tip[1], tip[2], &px, &py));
            EXPECT_GT(handPixelsAround(picture, px, py, 2), 12)
                << "finger " << k << " on key " << key << " at " << px << "," << py;
        }
    }

    // Beside both hands, and between them, there is no hand colour.
    const double right = rightPlan[0];
    const double left = leftPlan[0];
    for (double x : {right + 2.8, left - 2.8, (right + left) / 2}) {
        int px = 0;
        int py = 0;
        ASSERT_TRUE(window_test::projectPoint(x, 0.75, 0.9, &px, &py)) << x;
        EXPECT_EQ(handPixelsAround(picture, px, py, 12), 0) << x;
    }
}

TEST_F(HandsWindow, UnreachableAndDegenerateTargetsLeaveTheFrameIntact) {
    setUpHands();
    currentTick = 1;  // an empty tick: the targets below are drawn as they stand
    const HandDimensions d = computeHandDimensions();
    // Thumb straight under its base, fingers far out of reach or exactly at their bases.
    rightHand.fingers[0] = {d.thumbBase.x, d.thumbBase.y, -d.thumbBase.z};
    rightHand.fingers[1] = {9.0f, 9.0f, 4.0f};
    rightHand.fingers[2] = {0.0f, 0.5f, 0.0f};
    rightHand.fingers[3] = {-9.0f, -9.0f, 0.0f};
    rightHand.fingers[4] = {0.0f, 0.0f, 0.0f};
    window_test::drawFrameWithoutSwap();
    const Picture picture = window_test::readPicture(GL_BACK);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Both hands, drawn after the right hand's odd fingers, are still whole.
    for (const HandState* hand : {&rightHand, &leftHand}) {
        double centre[3];
        palmToScene(*hand, 0, 0, 0, centre);
        int px = 0;
        int py = 0;
        ASSERT_TRUE(window_test::projectPoint(centre[0], centre[1], centre[2], &px, &py));
        EXPECT_GT(handPixelsAround(picture, px, py, 6), 150);
    }
}

// The program's own start-up on the bundled score: read, planned, and the first frame drawn with
// a close camera. Both hands sit on their first planned centres and are seen there.
TEST_F(HandsWindow, BundledScoreStartsWithBothHandsOnTheirPlans) {
    window_test::ensureWindow();
    static char program[] = "test_window";
    static char score[] = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml";
    char* argv[] = {program, score, nullptr};
    ASSERT_EQ(startUp(2, argv), 0);
    ASSERT_FALSE(rightPlan.empty());
    ASSERT_FALSE(leftPlan.empty());
    const float middle = (rightPlan[0] + leftPlan[0]) / 2;
    cameraEye = {middle, 3.2f, 3.6f};
    cameraCenter = {middle, 0.0f, 0.0f};
    cameraUp = {0.0f, 1.0f, 0.0f};
    window_test::drawFrameWithoutSwap();
    const Picture picture = window_test::readPicture(GL_BACK);
    const std::string path = std::string(QUORVEL_BINARY_DIR) + "/hands_bundled.png";
    EXPECT_TRUE(window_test::writePng(picture, path)) << path;

    EXPECT_EQ(rightHand.position.x, rightPlan[0]);
    EXPECT_EQ(leftHand.position.x, leftPlan[0]);
    for (const HandState* hand : {&rightHand, &leftHand}) {
        double centre[3];
        palmToScene(*hand, 0, 0, 0, centre);
        int px = 0;
        int py = 0;
        ASSERT_TRUE(window_test::projectPoint(centre[0], centre[1], centre[2], &px, &py));
        EXPECT_GT(handPixelsAround(picture, px, py, 6), 150) << px << "," << py;
    }
}
