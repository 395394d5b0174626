// Our own solids against GLUT's, in one real GLUT window: the same triangles must give the same
// pixels, shape by shape and for the whole scene. The export tests run without a display, so this
// test starts a virtual X server for a copy of itself.

#include <GL/freeglut.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "geometry/camera.h"
#include "geometry/key_layout.h"
#include "render/scene_gl.h"
#include "render/shapes_gl.h"
#include "render/solids_gl.h"

namespace {
constexpr int kSize = 320;
constexpr const char* kChildVariable = "QUORVEL_SOLIDS_UNDER_X";

std::vector<unsigned char> readFrame() {
    std::vector<unsigned char> pixels(kSize * kSize * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kSize, kSize, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// How many pixels differ between two pictures of the same size.
long differentPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    long different = 0;
    for (size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3) {
        different += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
    }
    return different;
}

long litPixels(const std::vector<unsigned char>& pixels) {
    long lit = 0;
    for (size_t i = 0; i < pixels.size(); i += 3) {
        lit += (pixels[i] | pixels[i + 1] | pixels[i + 2]) != 0;
    }
    return lit;
}

// Draws one shape turned so that its poles, seams and faces all show, lit by the scene's light.
template <typename Draw>
std::vector<unsigned char> drawTurned(Draw draw, float turn) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0, 0, 3, 0, 0, 0, 0, 1, 0);
    placeLight();
    glRotatef(turn, 1.0f, 0.7f, 0.2f);
    glScalef(1.0f, 1.0f, 1.6f);
    draw();
    return readFrame();
}

// What the test does inside the virtual X server.
void compareUnderX() {
    buildKeyLayout();
    keyStates.assign(88, KeyState{0.0f, 0, 0});
    resetPerformance();
    static char name[] = "test_export";
    static char* argv[] = {name, nullptr};
    // The classic window's display mode and GL state.
    int argc = 1;
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(kSize, kSize);
    glutCreateWindow("solids");
    glutDisplayFunc([] {});
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    setUpLighting();
    glEnable(GL_LIGHTING);
    for (int i = 0; i < 20; ++i) {
        glutMainLoopEvent();
    }
    onReshape(kSize, kSize);

    struct Sphere {
        double radius;
        int slices, stacks;
    };
    // The hands' spheres, and odd cuts (one ring, three slices) that show the poles' strips.
    const Sphere spheres[] = {{0.715, 16, 10}, {0.44, 16, 10}, {0.099, 10, 10},
                              {0.9, 3, 2},     {0.8, 7, 3},    {0.6, 40, 31}};
    for (const Sphere& s : spheres) {
        for (float turn : {0.0f, 75.0f, 200.0f}) {
            auto glut = drawTurned([&] { glutSolidSphere(s.radius, s.slices, s.stacks); }, turn);
            auto own = drawTurned([&] { drawOwnSolidSphere(s.radius, s.slices, s.stacks); }, turn);
            EXPECT_GT(litPixels(glut), 100) << "sphere " << s.radius;
            EXPECT_EQ(differentPixels(glut, own), 0) << "sphere " << s.radius << " " << s.slices
                                                     << "x" << s.stacks << " turned " << turn;
        }
    }
    for (double size : {0.3, 0.15, 1.0}) {
        for (float turn : {0.0f, 33.0f, 140.0f}) {
            auto glut = drawTurned([&] { glutSolidCube(size); }, turn);
            auto own = drawTurned([&] { drawOwnSolidCube(size); }, turn);
            EXPECT_GT(litPixels(glut), 100) << "cube " << size;
            EXPECT_EQ(differentPixels(glut, own), 0) << "cube " << size << " turned " << turn;
        }
    }

    // The whole scene from the window's camera and from the player's side, pressed keys and all.
    for (int k : {3, 40, 41, 60}) {
        keyStates[k].angle = 10.0f;
    }
    for (int view = 0; view < 2; ++view) {
        if (view == 1) {
            cameraEye = {0.0f, 6.0f, 9.0f};
        }
        std::vector<unsigned char> pictures[2];
        for (int own = 0; own < 2; ++own) {
            ownSolidShapes = own == 1;
            releaseShapeCache();
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            drawScene();
            pictures[own] = readFrame();
        }
        ownSolidShapes = false;
        EXPECT_GT(litPixels(pictures[0]), 2000);
        EXPECT_EQ(differentPixels(pictures[0], pictures[1]), 0) << "scene, view " << view;
    }
}
}  // namespace

TEST(OwnSolids, DrawTheSamePixelsAsGlut) {
    if (std::getenv(kChildVariable) != nullptr) {
        compareUnderX();
        return;
    }
    const std::string command = std::string(kChildVariable) +
                                "=1 xvfb-run -a -s '-screen 0 1280x1024x24' /proc/" +
                                std::to_string(getpid()) +
                                "/exe --gtest_filter=OwnSolids.DrawTheSamePixelsAsGlut"
                                " > solids_under_x.log 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << "see solids_under_x.log in the build folder";
}
