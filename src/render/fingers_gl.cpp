#include "render/fingers_gl.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "render/shapes_gl.h"

namespace {
// Subdivision of every digit cylinder and sphere.
constexpr int kSlices = 10;
constexpr int kStacks = 10;

// The one quadric every digit cylinder is drawn with; made on first use and kept for the run,
// so that drawing never allocates per frame.
GLUquadric* digitQuadric() {
    static GLUquadric* quadric = nullptr;
    if (quadric == nullptr) {
        quadric = gluNewQuadric();
        gluQuadricDrawStyle(quadric, GLU_FILL);
        gluQuadricNormals(quadric, GLU_SMOOTH);
    }
    return quadric;
}
}  // namespace

void drawFinger(const FingerParams& params) {
    const FingerAngles a = solveFinger(params);
    GLUquadric* quadric = digitQuadric();

    glRotatef(a.heading, 0, 0, 1);
    glRotatef(a.lift, 1, 0, 0);
    drawCylinder(quadric, params.rootRadius, params.radius1, params.length1, kSlices, kStacks);

    glPushMatrix();
    glTranslatef(0, 0, params.length1);
    glRotatef(a.bend1, 1, 0, 0);
    drawCylinder(quadric, params.radius1, params.radius2, params.length2, kSlices, kStacks);

    glPushMatrix();
    glTranslatef(0, 0, params.length2);
    glRotatef(a.bend2, 1, 0, 0);
    drawCylinder(quadric, params.radius2, params.tipRadius, params.length3, kSlices, kStacks);
    glTranslatef(0, 0, params.length3);
    drawSolidSphere(params.tipRadius, kSlices, kStacks);

    glPopMatrix();
    glTranslatef(0, 0, params.length2);
    drawSolidSphere(params.radius2, kSlices, kStacks);

    glPopMatrix();
    glTranslatef(0, 0, params.length1);
    drawSolidSphere(params.radius1, kSlices, kStacks);
}

void drawThumb(const ThumbParams& params) {
    const ThumbAngles a = solveThumb(params);
    GLUquadric* quadric = digitQuadric();

    glRotatef(a.heading, 0, 1, 0);
    glRotatef(a.tilt, 1, 0, 0);
    glRotatef(a.roll, 0, 0, 1);
    glRotatef(a.swing, 1, 0, 0);
    drawCylinder(quadric, params.rootRadius, params.radius1, params.length1, kSlices, kStacks);

    glPushMatrix();
    glTranslatef(0, 0, params.length1);
    glRotatef(a.jointBend, 1, 0, 0);
    drawCylinder(quadric, params.radius1, params.tipRadius, params.length2, kSlices, kStacks);
    glTranslatef(0, 0, params.length2);
    drawSolidSphere(params.tipRadius, kSlices, kStacks);
    glPopMatrix();

    glTranslatef(0, 0, params.length1);
    drawSolidSphere(params.radius1, kSlices, kStacks);
}
