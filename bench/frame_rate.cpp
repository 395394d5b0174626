// Frames per second of the full scene against an empty frame (clear and swap only), in the same
// run and the same 800 x 400 window, with the keyboard alone and the scene with the hands' solids
// tessellated on every frame (the shape cache bypassed) for comparison. The machine is shared,
// so every figure is measured in several rounds, taken in turn, and the median is reported with
// the spread, together with the process's CPU time per frame (the software renderer's threads
// included), which other people's work on the machine disturbs less than the wall clock. Run it
// under a virtual X server:
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./bench_frame_rate [rounds]
#include <GL/freeglut.h>
#include <GL/glu.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "geometry/camera.h"
#include "geometry/key_layout.h"
#include "render/keyboard_gl.h"
#include "render/scene_gl.h"
#include "render/shapes_gl.h"
#include "score/score_model.h"

namespace {
using Clock = std::chrono::steady_clock;

// Each round of a measurement runs this long, after a short warm-up.
constexpr double kSecondsPerRound = 1.0;
constexpr int kWarmUpFrames = 20;
constexpr int kDefaultRounds = 5;
constexpr int kMaxRounds = 100;

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

// The full frame as the program drew it before its solids were compiled once.
void tessellatedSceneFrame() {
    shapeCacheEnabled = false;
    onDisplay();
    shapeCacheEnabled = true;
}

void emptyFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
}

// CPU time of the whole process, all threads, in milliseconds.
double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1.0e6;
}

// One round: frames per second, and CPU milliseconds per frame into *cpuMsPerFrame.
double framesPerSecond(void (*frame)(), double* cpuMsPerFrame) {
    for (int i = 0; i < kWarmUpFrames; ++i) {
        frame();
    }
    glFinish();
    int frames = 0;
    const double cpuStart = processCpuMs();
    Clock::time_point start = Clock::now();
    double elapsed = 0.0;
    while (elapsed < kSecondsPerRound) {
        frame();
        glFinish();
        ++frames;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    *cpuMsPerFrame = (processCpuMs() - cpuStart) / frames;
    return frames / elapsed;
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Frames per second of one kind of frame over all rounds: median, lowest and highest.
struct Figure {
    const char* name;
    void (*frame)();
    std::vector<double> rounds;  // frames per second
    std::vector<double> cpuMs;   // CPU milliseconds per frame

    double median() const { return medianOf(rounds); }
    double lowest() const { return *std::min_element(rounds.begin(), rounds.end()); }
    double highest() const { return *std::max_element(rounds.begin(), rounds.end()); }
};

void report(const Figure& figure) {
    const double fps = figure.median();
    std::printf("%-18s: %.1f (%.3f ms per frame, %.3f ms CPU; rounds %.1f .. %.1f)\n", figure.name,
                fps, 1000.0 / fps, medianOf(figure.cpuMs), figure.lowest(), figure.highest());
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

    int rounds = argc > 1 ? std::atoi(argv[1]) : kDefaultRounds;
    rounds = rounds < 1 ? 1 : (rounds > kMaxRounds ? kMaxRounds : rounds);

    Figure figures[] = {{"scene frames/s", onDisplay, {}, {}},
                        {"keyboard frames/s", keyboardFrame, {}, {}},
                        {"empty frames/s", emptyFrame, {}, {}},
                        {"tessellated scene", tessellatedSceneFrame, {}, {}}};
    for (int round = 0; round < rounds; ++round) {
        for (Figure& figure : figures) {
            double cpuMs = 0.0;
            figure.rounds.push_back(framesPerSecond(figure.frame, &cpuMs));
            figure.cpuMs.push_back(cpuMs);
        }
    }
    const double scene = figures[0].median();
    const double keyboard = figures[1].median();
    const double empty = figures[2].median();
    std::printf("window            : %d x %d, %d rounds of %.0f s, medians\n", windowWidth,
                windowHeight, rounds, kSecondsPerRound);
    for (const Figure& figure : figures) {
        report(figure);
    }
    std::printf("scene / empty     : %.3f (target 0.5 or better)\n", scene / empty);
    std::printf("keyboard / empty  : %.3f\n", keyboard / empty);
    std::printf("compiled shapes   : %d\n", cachedShapeCount());
    std::fflush(stdout);
    return 0;
}
