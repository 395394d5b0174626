// Drawing frame after frame must reuse the memory of the frame before: the driver frees its
// binning blocks after every swap, and pages handed back to the kernel would be faulted in,
// zero-filled, on every frame (hundreds of faults per frame with the hands in view).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "animation/animation.h"
#include "app/state.h"
#include "geometry/camera.h"
#include "window/window_fixture.h"

namespace {

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Page faults per frame over `frames` displayed frames, after a warm-up.
double faultsPerFrame(int frames) {
    for (int i = 0; i < 20; ++i) {
        onDisplay();
    }
    glFinish();
    const long before = minorFaults();
    for (int i = 0; i < frames; ++i) {
        onDisplay();
        glFinish();
    }
    return static_cast<double>(minorFaults() - before) / frames;
}

}  // namespace

TEST(FrameMemory, FramesDoNotFaultInFreshPages) {
    window_test::ensureWindow();
    const Point3 eye = cameraEye;
    const Point3 centre = cameraCenter;
    const Point3 up = cameraUp;
    resetPerformance();
    keyStates[39].angle = 10.0f;
    keyStates[43].angle = 5.0f;

    // The whole keyboard with both hands, and the hands from close by, where they cover much of
    // the window and their triangles fall into many tiles.
    cameraEye = {0.0f, 9.5f, 5.5f};
    cameraCenter = {0.0f, 0.0f, 0.0f};
    cameraUp = {0.0f, 1.0f, 0.0f};
    const double wide = faultsPerFrame(60);
    cameraEye = {0.0f, 3.2f, 3.6f};
    const double close = faultsPerFrame(60);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // A frame's binning takes a couple of megabytes, some 500 pages; a few faults a frame are
    // the driver's own business.
    EXPECT_LT(wide, 50.0);
    EXPECT_LT(close, 50.0);

    cameraEye = eye;
    cameraCenter = centre;
    cameraUp = up;
    resetPerformance();
}
