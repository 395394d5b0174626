#include "render/hands_gl.h"

#include <GL/gl.h>

#include "geometry/hand_model.h"
#include "render/fingers_gl.h"
#include "render/shapes_gl.h"

namespace {
// Subdivision of the palm's and thenar's spheres along their axis.
constexpr int kPalmStacks = 10;
// The thumb is solved in a frame turned this far about x: y down, z along the palm's +y.
constexpr float kThumbFrameTurn = -90.0f;
// A finger frame is turned by its base angle less this, so that its +y points at the base.
constexpr float kFingerFrameTurn = 90.0f;

// One procedure for both hands; the mirror table says which.
void drawHand(const HandMirror& mirror) {
    aimHand(mirror);
    const HandDimensions d = computeHandDimensions();
    const HandState& hand = *mirror.hand;

    // The palm frame: its origin is the palm centre.
    glTranslatef(hand.position.x, 0, 0);

    glPushMatrix();
    glScalef(1, 1, d.palmHeightScale);
    drawSolidSphere(d.palmRadius, d.palmSlices, kPalmStacks);
    glPopMatrix();

    // Ball of the thumb.
    glPushMatrix();
    glTranslatef(d.thenarCentre.x * mirror.mirrorX, d.thenarCentre.y, d.thenarCentre.z);
    glRotatef(mirror.thenarTurn, 0, 1, 0);
    glPushMatrix();
    glScalef(1, 1, d.thenarHeightScale);
    drawSolidSphere(d.thenarRadius, d.palmSlices, kPalmStacks);
    glPopMatrix();
    glPopMatrix();

    const ThumbParams thumb = thumbParams(mirror, d);
    glPushMatrix();
    glPushMatrix();
    glTranslatef(thumb.bx, thumb.by, thumb.bz);
    glRotatef(kThumbFrameTurn, 1, 0, 0);
    drawThumb(thumb);
    glPopMatrix();
    glPopMatrix();

    for (int finger = 1; finger <= 4; ++finger) {
        const float angle = mirror.baseAngles[finger];
        glPushMatrix();
        glRotatef(angle - kFingerFrameTurn, 0, 0, 1);
        glTranslatef(0, d.fingerBaseDistance, 0);
        drawFinger(fingerParams(mirror, d, finger));
        glPopMatrix();
    }
}
}  // namespace

void drawRightHand() {
    drawHand(rightMirror);
}

void drawLeftHand() {
    drawHand(leftMirror);
}
