#include "render/scene_gl.h"

#include <GL/glu.h>
#include <GL/glut.h>
#include <malloc.h>

#include "animation/animation.h"
#include "geometry/camera.h"
#include "geometry/material.h"
#include "geometry/projection.h"
#include "render/hands_gl.h"
#include "render/keyboard_gl.h"

namespace {
// Light 0, a point light (w = 1) above the right-centre of the keyboard, in front of it.
const GLfloat lightPosition[4] = {1.0f, 1.0f, 1.5f, 1.0f};
const GLfloat lightAmbient[4] = {0.6f, 0.6f, 0.6f, 1.0f};
const GLfloat lightDiffuse[4] = {0.6f, 0.6f, 0.6f, 1.0f};
const GLfloat lightSpecular[4] = {0.8f, 0.8f, 0.8f, 1.0f};

// The hand frame's +y runs along the keys towards the hinge and its +z up: the scene frame turned
// by this many degrees about x.
constexpr float kHandFrameTurn = -90.0f;

// Free memory at the top of the heap kept for the next frame rather than trimmed: well above the
// couple of megabytes a frame's binning takes, even with the hands filling the window.
constexpr int kKeptHeapTopBytes = 32 * 1024 * 1024;

// Moves into the hand frame of one hand: its position is used crosswise, z the height (scene y)
// and y the depth (scene z); x is applied by the hand drawing itself.
void enterHandFrame(const HandState& hand) {
    glTranslatef(0.0f, hand.position.z, hand.position.y);
    glRotatef(kHandFrameTurn, 1.0f, 0.0f, 0.0f);
}
}  // namespace

void keepFrameMemory() {
#ifdef __GLIBC__
    mallopt(M_TRIM_THRESHOLD, kKeptHeapTopBytes);
#endif
}

void setUpLighting() {
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, lightDiffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, lightAmbient);
    glLightfv(GL_LIGHT0, GL_SPECULAR, lightSpecular);
    glShadeModel(GL_SMOOTH);
}

void placeLight() {
    glMatrixMode(GL_MODELVIEW);
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
}

void drawScene() {
    // Set after the view transform, the light keeps its place in the scene however the camera
    // moves.
    gluLookAt(cameraEye.x, cameraEye.y, cameraEye.z, cameraCenter.x, cameraCenter.y, cameraCenter.z,
              cameraUp.x, cameraUp.y, cameraUp.z);
    placeLight();

    glPushMatrix();
    drawKeyboard();
    glPopMatrix();

    // Each hand sets its own material first: the keyboard leaves whichever key material it used
    // last.
    glPushMatrix();
    setMaterial(handMaterial);
    enterHandFrame(rightHand);
    drawRightHand();
    glPopMatrix();

    glPushMatrix();
    setMaterial(handMaterial);
    enterHandFrame(leftHand);
    drawLeftHand();
    glPopMatrix();
}

void drawFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    drawScene();
    glPopMatrix();
}

void onDisplay() {
    drawFrame();
    glutSwapBuffers();
}

void onReshape(int width, int height) {
    Projection projection;
    if (!projectionFor(width, height, &projection)) {
        return;
    }
    windowWidth = width;
    windowHeight = height;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(projection.fieldOfView, projection.aspect, projection.nearPlane,
                   projection.farPlane);
    glMatrixMode(GL_MODELVIEW);
    glViewport(0, 0, width, height);
}
