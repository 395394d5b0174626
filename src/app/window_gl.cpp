#include "app/window_gl.h"

#include <GL/glut.h>

#include "app/clock.h"
#include "app/commands.h"
#include "app/mouse.h"
#include "app/platform.h"
#include "app/state.h"
#include "geometry/camera.h"
#include "render/scene_gl.h"

namespace {
constexpr int kStartWidth = 800;
constexpr int kStartHeight = 400;
constexpr int kStartLeft = 100;
constexpr int kStartTop = 100;
constexpr const char* kTitle = "Quorvel";

void armGlutTimer(int delayMs, void (*callback)(int), int value) {
    // A negative delay would wrap to a huge unsigned wait; fire at once instead.
    glutTimerFunc(delayMs > 0 ? static_cast<unsigned>(delayMs) : 0u, callback, value);
}
}  // namespace

void createGlutWindow(int argc, char** argv, int width, int height, int left, int top,
                      const char* title, unsigned extraMode) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH | extraMode);
    glutInitWindowSize(width, height);
    windowWidth = width;
    windowHeight = height;
    glutInitWindowPosition(left, top);
    glutCreateWindow(title);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);

    // From here on the callbacks may arm timers and ask for redisplays through the seam.
    platform.armTimer = armGlutTimer;
    platform.postRedisplay = glutPostRedisplay;
}

void enableSceneState() {
    glEnable(GL_DEPTH_TEST);
    setUpLighting();
    glEnable(GL_LIGHTING);
    keepFrameMemory();
}

void openWindow(int argc, char** argv) {
    createGlutWindow(argc, argv, kStartWidth, kStartHeight, kStartLeft, kStartTop, kTitle);
    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);
    glutIdleFunc(onIdle);
    glutKeyboardFunc(onKeyboard);
    enableSceneState();
}

void runWindow(int argc, char** argv) {
    openWindow(argc, argv);
    glutMainLoop();
}
