// How fast the performance moves on: animation steps per second of the step alone over a large
// made-up score, and of idle-driven play with drawing in a real window (run it under xvfb-run
// when there is no display).
//
//   bench_animation [ticks] [seconds of drawn play]

#include "animation/animation.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/clock.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace {

using Clock = std::chrono::steady_clock;

// A small deterministic generator, so every run plays the same score.
struct Random {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

// One hand's grid: chords of one to three notes, each held one to four ticks, wandering within
// a range of the keyboard.
std::vector<NoteEvent> makeHand(int ticks, int lowKey, int highKey, Random& random) {
    std::vector<NoteEvent> grid(ticks, kEmptyEvent);
    int centre = (lowKey + highKey) / 2;
    int t = 0;
    while (t < ticks) {
        centre += random.below(7) - 3;
        centre = centre < lowKey ? lowKey : (centre > highKey ? highKey : centre);
        int length = 1 + random.below(4);
        int notes = 1 + random.below(3);
        for (int k = 0; k < notes; ++k) {
            int key = centre + 2 * k;
            for (int i = 0; i < length && t + i < ticks; ++i) {
                grid[t + i].slot[k] = NoteSlot{key, i == length - 1 ? 1 : 0};
            }
        }
        t += length;
    }
    return grid;
}

void makeScore(int ticks) {
    Random random{12345};
    rightNotes = makeHand(ticks, 39, 70, random);
    leftNotes = makeHand(ticks, 10, 38, random);
    divisions = 4;
    scanLength = 16;
    currentTick = ticks - 1;
    keyStates.assign(kKeyCount, KeyState{0.0f, 0, 0});
    resetPerformance();
}

// Steps per second of the step alone, playing the whole score once.
double stepRate(int ticks) {
    planRightHand();
    planLeftHand();
    resetPerformance();
    playMode = IdleDriven;
    long steps = 0;
    auto start = Clock::now();
    while (playMode != Stopped) {
        animationStep();
        ++steps;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (steps != 8L * ticks) {
        std::printf("warning: %ld steps for %d ticks\n", steps, ticks);
    }
    return steps / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    int ticks = argc > 1 ? std::atoi(argv[1]) : 200000;
    double drawSeconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    if (ticks < 1) {
        ticks = 1;
    }

    buildKeyLayout();
    makeScore(ticks);

    double rate = stepRate(ticks);
    std::printf("animation step alone: %d ticks, %ld steps, %.0f steps/s (%.1f ns per step)\n",
                ticks, 8L * ticks, rate, 1e9 / rate);
    std::fflush(stdout);

    if (std::getenv("DISPLAY") == nullptr) {
        std::printf("idle-driven play with drawing: skipped, no DISPLAY (run under xvfb-run)\n");
        return 0;
    }

    // The program's own window set-up, then the main loop's work done by hand: the idle
    // callback steps, GLUT handles events and draws the frame the step asked for.
    openWindow(argc, argv);
    resetPerformance();
    playMode = IdleDriven;
    for (int i = 0; i < 10; ++i) {
        glutMainLoopEvent();  // map the window and draw the first frames
    }
    long steps = 0;
    auto start = Clock::now();
    double seconds = 0.0;
    while (seconds < drawSeconds && playMode != Stopped) {
        onIdle();
        glutMainLoopEvent();
        ++steps;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    glFinish();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "idle-driven play with drawing: %ld steps in %.2f s, %.0f steps/s, %.1f score ticks/s\n",
        steps, seconds, steps / seconds, steps / seconds / 8.0);
    std::fflush(stdout);
    return 0;
}
