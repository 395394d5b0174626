#include "animation/performance.h"

#include <cmath>

#include "animation/animation.h"
#include "geometry/camera.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

int timerInterval = 1;
int playMode = Stopped;

namespace {
// Start values of the shell's settings.
constexpr float kStartCameraDistance = 5.0f;
constexpr int kStartTimerInterval = 1;
// Half of pi as the eye formula writes it; its cosine is evaluated in double precision.
constexpr double kHalfPi = 1.570796327;

// Start poses of the fingers. The right little finger sits at 0.9, not 1.0: the two sets are not
// exact mirrors.
constexpr Point3 kRightFingersStart[5] = {{-1.0f, 0.6f, 0.3f},
                                          {-0.6f, 1.0f, 0.3f},
                                          {0.0f, 1.1f, 0.3f},
                                          {0.6f, 1.0f, 0.3f},
                                          {0.9f, 0.4f, 0.3f}};
constexpr Point3 kLeftFingersStart[5] = {{1.0f, 0.6f, 0.3f},
                                         {0.6f, 1.0f, 0.3f},
                                         {0.0f, 1.1f, 0.3f},
                                         {-0.6f, 1.0f, 0.3f},
                                         {-1.0f, 0.4f, 0.3f}};
}  // namespace

void setStartValues() {
    buildKeyLayout();

    zoomLast = {0, 0, 0};
    zoomNow = {0, 0, 0};
    zoomDrag = 0;
    cameraDistance = kStartCameraDistance;
    timerInterval = kStartTimerInterval;
    divisions = 0;
    cameraCenter = {0, 0, 0};
    cameraUp = {0, 1, 0};
    cameraPitch = 0;
    cameraYaw = 0;
    currentTick = -1;
    cameraEye = {cameraDistance, 0, static_cast<float>(cameraDistance * std::cos(kHalfPi))};
}

void createKeyStates() {
    keyStates.assign(kKeyCount, KeyState{0.0f, 0, 0});
    resetPerformance();
}

void resetPerformance() {
    rightHand.position = kRightHandStart;
    leftHand.position = kLeftHandStart;
    for (int k = 0; k < 5; ++k) {
        rightHand.fingers[k] = kRightFingersStart[k];
        leftHand.fingers[k] = kLeftFingersStart[k];
    }
    playMode = Stopped;
    tickPhase = 0;
    currentTick = 0;
    for (KeyState& key : keyStates) {
        key = KeyState{0.0f, 0, 0};
    }
}
