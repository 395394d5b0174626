// The new look's speed: the bundled sonata exported at 1280 x 720 and 60 frames a second
// (video seconds per wall second; drawing, reading back, encoding on its own thread, and the
// drawing's waits for it), then the same performance drawn in a 1920 x 1080 window (frames a
// second as the window draws them, then split into the pure frame computation, the meshes, the
// GL calls, the renderer's finishing and the swap). Other work on
// the machine slows the wall-clock figures; the processor time a frame takes (all threads, the
// software renderer's included) and the machine's load average are printed beside them, and so
// is what two idle cores would make of that processor time.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench_look [MEASURES [WINDOW_FRAMES [window]]]
// MEASURES (default 16) is the last measure exported; WINDOW_FRAMES defaults to 300, and 0
// measures the export alone; "window" measures the window alone.

#include <GL/freeglut.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "app/window_gl.h"
#include "export/export.h"
#include "fingering/planner.h"
#include "look/look_frame.h"
#include "look/look_mesh.h"
#include "look/look_regions.h"
#include "render/look_gl.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "thread_times.h"

namespace {
using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor seconds of this process so far, every thread.
double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor seconds of the calling thread so far.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double loadAverage() {
    double load[1] = {0.0};
    return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

constexpr double kCores = 2.0;

bool loadAndPlan(const std::string& document) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    if (loadScoreFromBuffer(document.data(), document.size(), nullptr) != 0) {
        return false;
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
    return true;
}

// Exports measures 1 to `measures` and prints its figures.
bool exportFigures(const std::string& document, const std::string& measures) {
    ExportRequest request;
    request.outputPath = "/tmp/bench_look.mp4";
    request.width = 1280;
    request.height = 720;
    request.fps = 60;
    request.toMeasure = measures;
    request.newLook = true;
    const double loadBefore = loadAverage();
    const double processorBefore = processorSeconds();
    ThreadTimes threads;
    threads.start();
    if (exportVideo(document, request) != 0) {
        return false;
    }
    threads.stop();
    const ExportFigures& f = lastExportFigures;
    // The sound is synthesised on a thread of its own, beside the first frames: its processor
    // time is left out, as it does not grow with the frames.
    const double processor = processorSeconds() - processorBefore - f.soundThreadSeconds;
    std::remove(request.outputPath.c_str());
    const double perFrame = 1000.0 / static_cast<double>(f.frames);
    std::printf(
        "export 1280x720 at 60 frames/s, measures 1-%s: %ld frames, %.1f s "
        "of video in %.1f s: %.2fx real time, %.1f frames/s\n",
        measures.c_str(), f.frames, f.videoSeconds, f.wallSeconds, f.videoSeconds / f.wallSeconds,
        f.frames / f.wallSeconds);
    // Wall clock a frame on the drawing thread, and within it the waits (wall less its own
    // processor time: the raster threads' work waited for, or another thread on the core).
    std::printf(
        "  drawing thread a frame: pure frame %.2f ms, GL calls %.2f ms (of which waiting "
        "%.2f ms), read-back %.2f ms (of which waiting for the raster %.2f ms), waiting for a "
        "free buffer %.2f ms\n",
        f.pureSeconds * perFrame, f.issueSeconds * perFrame,
        (f.issueSeconds - f.issueThreadSeconds) * perFrame, f.readSeconds * perFrame,
        (f.readSeconds - f.readThreadSeconds) * perFrame, f.waitSeconds * perFrame);
    std::printf(
        "  encoding thread a frame: colour, encoding and writing %.2f ms, waiting for a "
        "picture %.2f ms; sound synthesis %.1f s (%.1f s of processor) on its own thread beside "
        "the first frames\n",
        f.encodeSeconds * perFrame, f.encodeIdleSeconds * perFrame, f.soundSeconds,
        f.soundThreadSeconds);
    std::printf(
        "  processor %.1f ms a frame (all threads); on %.0f idle cores that would be %.2fx "
        "real time; load average %.2f before, %.2f after\n",
        processor * perFrame, kCores, f.videoSeconds / (processor / kCores), loadBefore,
        loadAverage());
    // Sampled from /proc in clock ticks: the renderer's raster threads apart.
    const double renderer = threads.seconds("llvmpipe");
    std::printf(
        "  processor a frame by thread: drawing %.1f ms, encoding %.1f ms, renderer's raster "
        "threads %.1f ms (sampled), other %.1f ms\n",
        f.drawThreadSeconds * perFrame, f.encodeThreadSeconds * perFrame, renderer * perFrame,
        (processor - f.drawThreadSeconds - f.encodeThreadSeconds - renderer) * perFrame);
    std::fflush(stdout);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    const std::string measures = argc > 1 ? argv[1] : "16";
    const int windowFrames = argc > 2 ? std::atoi(argv[2]) : 300;
    const bool windowAlone = argc > 3 && std::string(argv[3]) == "window";
    std::ifstream in(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string document = text.str();
    if (!loadAndPlan(document)) {
        std::fprintf(stderr, "bench_look: the bundled score does not load\n");
        return 1;
    }
    // The window's GLX context and the exporter's EGL one do not share a process: the window
    // is measured in a child made before any GL exists, after the export.
    const bool hasDisplay = std::getenv("DISPLAY") != nullptr;
    int pipeEnds[2] = {-1, -1};
    pid_t child = -1;
    if (hasDisplay && pipe(pipeEnds) == 0) {
        child = fork();
        if (child == 0) {
            char go = 0;
            close(pipeEnds[1]);
            if (read(pipeEnds[0], &go, 1) != 1) {
                _exit(1);
            }
            goto window;
        }
        close(pipeEnds[0]);
    }
    // ---- Export ----
    if (!windowAlone && !exportFigures(document, measures)) {
        return 1;
    }
    if (!hasDisplay || child < 0 || windowFrames <= 0) {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        std::printf(windowFrames <= 0 ? "window: skipped\n"
                                      : "window: no X display (run under xvfb-run); skipped\n");
        return 0;
    }
    {
        const char go = 1;
        int status = 0;
        if (write(pipeEnds[1], &go, 1) != 1 || waitpid(child, &status, 0) != child) {
            return 1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }

window:
    // ---- Window ----
    constexpr int kWidth = 1920;
    constexpr int kHeight = 1080;
    createGlutWindow(argc, argv, kWidth, kHeight, 0, 0, "bench_look");
    glutDisplayFunc([] {});
    int samples = 0;
    glGetIntegerv(GL_SAMPLES, &samples);
    loadAndPlan(document);
    ScoreTiming timing;
    std::string error;
    readScoreTiming(document.data(), document.size(), &timing, &error);
    TimelineOptions options;
    options.toTick = measureEndTick(timing, measures);
    const Timeline timeline = buildTimeline(timing, options);
    const LookPerformance look = lookPerformanceOf(timeline, document);
    const LookPalette palette;
    // The window's own loop first: each frame computed, drawn and swapped, nothing waited for
    // in between, as the real-time window does.
    const double loadBefore = loadAverage();
    const double processorBefore = processorSeconds();
    const double threadBefore = threadSeconds();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < windowFrames; ++i) {
        const double seconds = timeline.duration * i / windowFrames;
        PerformanceFrame frame{};
        performanceAt(timeline, seconds, &frame);
        applyFrame(frame);
        const LookPicture picture = lookPictureAt(look, LookView::Player, kWidth, kHeight, seconds);
        drawLookFrame(picture, look, palette);
        glutSwapBuffers();
        glutMainLoopEvent();
    }
    const double wall = since(start);
    const double processor = processorSeconds() - processorBefore;
    const double thread = threadSeconds() - threadBefore;
    const double loadAfter = loadAverage();
    std::printf("window 1920x1080, %d samples a pixel: %d frames in %.2f s: %.1f frames/s\n",
                samples, windowFrames, wall, windowFrames / wall);
    std::printf(
        "  processor %.1f ms a frame (all threads, the X server's not counted); on %.0f idle "
        "cores that would be %.1f frames/s; load average %.2f before, %.2f after\n",
        1000.0 * processor / windowFrames, kCores, windowFrames / (processor / kCores), loadBefore,
        loadAfter);
    std::printf("  processor a frame by thread: drawing %.1f ms, the renderer's threads %.1f ms\n",
                1000.0 * thread / windowFrames, 1000.0 * (processor - thread) / windowFrames);
    std::fflush(stdout);

    // Then the same frames again, each stage waited for before the next, for the split: the
    // pure frame, the meshes and regions the drawing builds (pure, timed apart on copies), the
    // drawing thread's GL calls (which wait for the strip before smoothing it), the renderer
    // finishing the frame, and the swap.
    double pure = 0.0;
    double meshes = 0.0;
    double calls = 0.0;
    double finish = 0.0;
    double swap = 0.0;
    LookMesh keys;
    LookMesh hands[2];
    size_t rectangles = 0;
    double smoothedPixels = 0.0;
    double keptPixels = 0.0;
    double afreshPixels = 0.0;
    double redrawnPixels = 0.0;
    for (int i = 0; i < windowFrames; ++i) {
        const double seconds = timeline.duration * i / windowFrames;
        Clock::time_point step = Clock::now();
        PerformanceFrame frame{};
        performanceAt(timeline, seconds, &frame);
        applyFrame(frame);
        const LookPicture picture = lookPictureAt(look, LookView::Player, kWidth, kHeight, seconds);
        pure += since(step);
        step = Clock::now();
        keys.vertices.clear();
        addKeyboard(picture.frame, palette, &keys);
        for (int h = 0; h < 2; ++h) {
            hands[h].vertices.clear();
            addHand(picture.hands[h], palette, &hands[h]);
        }
        const LookMesh* const handList[2] = {&hands[0], &hands[1]};
        const std::vector<PixelRect> regions = sceneRegions(picture, handList, 2);
        rectangles += regions.size();
        for (const PixelRect& r : regions) {
            smoothedPixels += static_cast<double>(r.right - r.left) * (r.bottom - r.top);
        }
        meshes += since(step);
        step = Clock::now();
        drawLookFrame(picture, look, palette);
        calls += since(step);
        const LookStripPixels split = lookStripPixels();
        keptPixels += split.kept;
        afreshPixels += split.smoothed;
        redrawnPixels += split.redrawn;
        step = Clock::now();
        glFinish();
        finish += since(step);
        step = Clock::now();
        glutSwapBuffers();
        glFinish();
        swap += since(step);
        glutMainLoopEvent();
    }
    std::printf(
        "  each stage waited for: frame computation %.2f ms, meshes and regions %.2f ms (pure, "
        "inside the drawing calls), drawing calls %.2f ms, the renderer finishing %.2f ms, swap "
        "%.2f ms a frame; %.1f rectangles smoothed a frame, %.1f%% of the picture's pixels\n",
        1000.0 * pure / windowFrames, 1000.0 * meshes / windowFrames,
        1000.0 * (calls - meshes) / windowFrames, 1000.0 * finish / windowFrames,
        1000.0 * swap / windowFrames, static_cast<double>(rectangles) / windowFrames,
        100.0 * smoothedPixels / windowFrames / (static_cast<double>(kWidth) * kHeight));
    const double picturePixels = static_cast<double>(windowFrames) * kWidth * kHeight;
    std::printf(
        "  of the picture's pixels: %.1f%% laid from the kept keyboard at rest, %.1f%% smoothed "
        "afresh, %.1f%% of the strip drawn afresh\n",
        100.0 * keptPixels / picturePixels, 100.0 * afreshPixels / picturePixels,
        100.0 * redrawnPixels / picturePixels);
    std::fflush(stdout);
    return 0;
}
