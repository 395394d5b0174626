#pragma once

// Shared by the window tests: one real GLUT window per test process (GLUT can be initialised
// only once), read-back of the drawn picture, and PNG output for a person to look at.

#include <GL/freeglut.h>
#include <GL/glu.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "fingering/planner.h"
#include "geometry/camera.h"
#include "geometry/key_layout.h"
#include "render/scene_gl.h"
#include "render/shapes_gl.h"
#include "score/score_model.h"

namespace window_test {

constexpr int kWidth = 800;
constexpr int kHeight = 400;

// Opens the window the program opens, with the key table built and 88 key states at rest, and
// sets the 800 x 400 projection. Safe to call from every test; only the first call opens it.
inline void ensureWindow() {
    static bool open = false;
    if (open) {
        return;
    }
    open = true;
    buildKeyLayout();
    keyStates.assign(kKeyCount, KeyState{0.0f, 0, 0});
    resetPerformance();
    static char name[] = "test_window";
    static char* argv[] = {name, nullptr};
    openWindow(1, argv);
    // Let the window be mapped and its first reshape arrive, then set the size explicitly so the
    // tests do not depend on the X server's timing.
    for (int i = 0; i < 20; ++i) {
        glutMainLoopEvent();
    }
    onReshape(kWidth, kHeight);
}

// An RGB picture read back from GL, rows bottom-up as GL gives them.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char* at(int x, int y) const { return &rgb[3 * (y * width + x)]; }
    int brightness(int x, int y) const { return at(x, y)[0] + at(x, y)[1] + at(x, y)[2]; }
    bool isBlack(int x, int y) const { return brightness(x, y) == 0; }
};

// Reads the colour buffer GL_BACK or GL_FRONT.
inline Picture readPicture(GLenum buffer) {
    Picture picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.rgb.resize(3 * kWidth * kHeight);
    glFinish();
    glReadBuffer(buffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, picture.rgb.data());
    return picture;
}

// Draws one frame into the back buffer without swapping, so it can be read back as drawn.
// Leaves the view transform on the modelview matrix for projectPoint and light queries.
inline void drawFrameWithoutSwap() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    drawScene();
}

// Where a scene point lands in the picture, using the matrices drawFrameWithoutSwap left.
inline bool projectPoint(double x, double y, double z, int* px, int* py) {
    GLdouble model[16];
    GLdouble projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble wx = 0;
    GLdouble wy = 0;
    GLdouble wz = 0;
    if (gluProject(x, y, z, model, projection, viewport, &wx, &wy, &wz) != GL_TRUE) {
        return false;
    }
    *px = static_cast<int>(wx);
    *py = static_cast<int>(wy);
    return *px >= 0 && *px < kWidth && *py >= 0 && *py < kHeight && wz > 0 && wz < 1;
}

// Writes the picture as a PNG, top row first. Returns false when the file cannot be written.
inline bool writePng(const Picture& picture, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info == nullptr ? nullptr : &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = picture.height - 1; row >= 0; --row) {
        png_write_row(png, const_cast<png_bytep>(picture.at(0, row)));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

// Everything a window test may change, taken when it is made and put back by restore(), so the
// other window tests in the same process find the program's state as it was.
struct SavedProgram {
    std::vector<NoteEvent> right = rightNotes;
    std::vector<NoteEvent> left = leftNotes;
    HandPlan rightP = rightPlan;
    HandPlan leftP = leftPlan;
    int32_t tick = currentTick;
    int32_t divisionsSaved = divisions;
    int32_t scanSaved = scanLength;
    Point3 eye = cameraEye;
    Point3 centre = cameraCenter;
    Point3 up = cameraUp;
    float distance = cameraDistance;
    float pitch = cameraPitch;
    float yaw = cameraYaw;
    bool cache = shapeCacheEnabled;

    void restore() const {
        rightNotes = right;
        leftNotes = left;
        rightPlan = rightP;
        leftPlan = leftP;
        cameraEye = eye;
        cameraCenter = centre;
        cameraUp = up;
        cameraDistance = distance;
        cameraPitch = pitch;
        cameraYaw = yaw;
        shapeCacheEnabled = cache;
        resetPerformance();
        currentTick = tick;
        divisions = divisionsSaved;
        scanLength = scanSaved;
    }
};

}  // namespace window_test
