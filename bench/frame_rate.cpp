// Frames per second of the full scene against an empty frame (clear and swap only), in the same
// run and the same 800 x 400 window. Run it under a virtual X server:
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./bench_frame_rate
#include <GL/freeglut.h>
#include <GL/glu.h>

#include <chrono>
#include <cstdio>

#include "animation/animation.h"
#include "app/camera.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "render/key_layout.h"
#include "render/keyboard_gl.h"
#include "render/scene_gl.h"
#include "score/score_model.h"

namespace {
using Clock = std::chrono::steady_clock;

// Each measurement runs this long, after a short warm-up.
constexpr double kSecondsPerMeasurement = 3.0;
constexpr int kWarmUpFrames = 20;

// The scene without the hands: the keyboard's own share of the frame.
void keyboardFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    gluLookAt(cameraEye.x, cameraEye.y, cameraEye.z, cameraCenter.x, cameraCenter.y, cameraCenter.z,
              cameraUp.x, cameraUp.y, cameraUp.z);
    placeLight();
    drawKeyboard();
    glPopMatrix();
    glutSwapBuffers();
}

void emptyFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
}

double framesPerSecond(void (*frame)()) {
    for (int i = 0; i < kWarmUpFrames; ++i) {
        frame();
    }
    glFinish();
    int frames = 0;
    Clock::time_point start = Clock::now();
    double elapsed = 0.0;
    while (elapsed < kSecondsPerMeasurement) {
        frame();
        glFinish();
        ++frames;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    return frames / elapsed;
}

// A view from above the player's side that has all 88 keys and both hands in the picture, with
// a few keys down so both materials are used.
void setUpScene() {
    buildKeyLayout();
    keyStates.assign(kKeyCount, KeyState{0.0f, 0, 0});
    resetPerformance();
    for (int key : {39, 43, 46, 51, 20, 27}) {
        keyStates[key].angle = 10.0f;
    }
    cameraDistance = 11.0f;
    cameraPitch = 1.0f;
    cameraYaw = 1.5707964f;
    updateEye();
}
}  // namespace

int main(int argc, char** argv) {
    setUpScene();
    openWindow(argc, argv);
    for (int i = 0; i < 10; ++i) {
        glutMainLoopEvent();
    }
    onReshape(800, 400);

    double scene = framesPerSecond(onDisplay);
    double keyboard = framesPerSecond(keyboardFrame);
    double empty = framesPerSecond(emptyFrame);
    std::printf("window            : %d x %d\n", windowWidth, windowHeight);
    std::printf("scene frames/s    : %.1f (%.3f ms per frame)\n", scene, 1000.0 / scene);
    std::printf("keyboard frames/s : %.1f (%.3f ms per frame)\n", keyboard, 1000.0 / keyboard);
    std::printf("empty frames/s    : %.1f (%.3f ms per frame)\n", empty, 1000.0 / empty);
    std::printf("scene / empty     : %.3f (target 0.5 or better)\n", scene / empty);
    std::printf("keyboard / empty  : %.3f\n", keyboard / empty);
    std::fflush(stdout);
    return 0;
}
