// Soak run: plays a whole score idle-driven, drawing a frame after every step as the program
// does, and reports the resident memory at the start, along the way and at the end. Drawing must
// not make the process grow (no quadric or other GL object is made per frame). Run it under a
// virtual X server when there is no display:
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./bench_soak [score.xml]
//
// Without an argument it plays the bundled score.

#include <GL/freeglut.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include "animation/animation.h"
#include "app/clock.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "render/scene_gl.h"
#include "score/score_model.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reports along the way, as a fraction of the score.
constexpr int kReports = 10;
// Frames drawn before the baseline is taken.
constexpr int kWarmUpFrames = 100;

// Resident set size in kilobytes, from /proc/self/statm (its second field, in pages).
long residentKb() {
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr) {
        return -1;
    }
    long size = 0;
    long resident = 0;
    const int read = std::fscanf(file, "%ld %ld", &size, &resident);
    std::fclose(file);
    if (read != 2) {
        return -1;
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool handIsFinite(const HandState& hand) {
    bool finite = std::isfinite(hand.position.x);
    for (const Point3& f : hand.fingers) {
        finite = finite && std::isfinite(f.x) && std::isfinite(f.z);
    }
    return finite;
}

}  // namespace

int main(int argc, char** argv) {
    static char program[] = "bench_soak";
    static char bundled[] = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml";
    char* scoreArgv[] = {program, argc > 1 ? argv[1] : bundled, nullptr};
    if (startUp(2, scoreArgv) != 0) {
        std::printf("soak: the score could not be loaded\n");
        return 0;
    }
    const long ticks = static_cast<long>(rightNotes.size());
    if (ticks == 0) {
        std::printf("soak: the score has no ticks\n");
        return 0;
    }

    openWindow(1, scoreArgv);
    for (int i = 0; i < 10; ++i) {
        glutMainLoopEvent();  // map the window and draw the first frames
    }
    // Let the GL driver settle its caches before taking the baseline.
    for (int i = 0; i < kWarmUpFrames; ++i) {
        onDisplay();
    }
    const long startKb = residentKb();
    std::printf("soak: %ld ticks, %ld steps to play\n", ticks, 8 * ticks);
    std::printf("resident at start    : %ld kB\n", startKb);
    std::fflush(stdout);

    playMode = IdleDriven;
    long steps = 0;
    long peakKb = startKb;
    int reported = 0;
    const auto start = Clock::now();
    while (playMode != Stopped) {
        onIdle();
        glutMainLoopEvent();  // draws the frame the step asked for
        ++steps;
        const long now = residentKb();
        peakKb = now > peakKb ? now : peakKb;
        if (steps * kReports >= (reported + 1) * 8 * ticks && reported + 1 < kReports) {
            ++reported;
            std::printf("resident at %3d%%     : %ld kB\n", reported * 100 / kReports, now);
            std::fflush(stdout);
        }
    }
    glFinish();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long endKb = residentKb();
    std::printf("resident at end      : %ld kB (peak %ld kB, growth %ld kB)\n", endKb, peakKb,
                endKb - startKb);
    std::printf("played               : %ld steps in %.1f s, %.0f frames/s\n", steps, seconds,
                steps / seconds);
    std::printf("GL error at end      : 0x%x; hands finite: %s\n", glGetError(),
                handIsFinite(rightHand) && handIsFinite(leftHand) ? "yes" : "NO");
    std::fflush(stdout);
    return 0;
}
