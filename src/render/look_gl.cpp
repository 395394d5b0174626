#include "render/look_gl.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <glm/gtc/type_ptr.hpp>
#include <string>

#include "geometry/key_layout.h"
#include "geometry/material.h"
#include "render/pedal_gl.h"
#include "render/text_gl.h"

// Sections: boxes and colours; the lane (2-D); the keyboard and hands (3-D); the overlay (2-D);
// the frame.

namespace {
// ---- Boxes and colours ----

constexpr float kBackground[3] = {0.055f, 0.06f, 0.075f};
// Key bodies, scene units. White keys leave a gap of 0.015 between them (a real keyboard's is
// about a millimetre), drawn over the dark key bed so that it reads as a clean line.
constexpr float kWhiteHalf = 0.1485f;
constexpr float kWhiteBottom = -0.15f;
constexpr float kWhiteTop = 0.15f;
constexpr float kHingeZ = -0.825f;
constexpr float kWhiteFront = 0.825f;
constexpr float kBlackHalf = 0.072f;
constexpr float kBlackBottom = 0.125f;
constexpr float kBlackTop = 0.275f;
constexpr float kBlackFront = 0.2f;
// The front of a held white key, in its neighbours' shade.
const LookColour kSunkFront = {0.5f, 0.5f, 0.49f};
// A held key turns about its hinge by this much, degrees: a visible dip at the front.
constexpr float kPressTilt = 2.5f;

const GLfloat kLightDirection[4] = {-0.25f, 1.0f, 0.7f, 0.0f};  // w = 0: from far away
const GLfloat kLightAmbient[4] = {0.35f, 0.35f, 0.35f, 1.0f};
const GLfloat kLightDiffuse[4] = {0.75f, 0.75f, 0.75f, 1.0f};
const GLfloat kLightSpecular[4] = {0.3f, 0.3f, 0.3f, 1.0f};

// Skin of the palette's tone, lit softly (little shine).
Material skinOf(LookColour c) {
    return {{c.r * 0.69f, c.g * 0.67f, c.b * 0.66f, 1.0f},
            {c.r, c.g, c.b, 1.0f},
            {0.10f, 0.08f, 0.07f, 1.0f},
            12.0f};
}

// A box; `front`, when given, is the front face's own colour.
void box(float x0, float x1, float y0, float y1, float z0, float z1,
         const LookColour* front = nullptr) {
    glBegin(GL_QUADS);
    glNormal3f(0, 1, 0);  // top
    glVertex3f(x0, y1, z0);
    glVertex3f(x0, y1, z1);
    glVertex3f(x1, y1, z1);
    glVertex3f(x1, y1, z0);
    glNormal3f(0, 0, 1);  // front
    if (front != nullptr) {
        glColor3f(front->r, front->g, front->b);
    }
    glVertex3f(x0, y0, z1);
    glVertex3f(x1, y0, z1);
    glVertex3f(x1, y1, z1);
    glVertex3f(x0, y1, z1);
    glNormal3f(-1, 0, 0);  // left
    glVertex3f(x0, y0, z0);
    glVertex3f(x0, y0, z1);
    glVertex3f(x0, y1, z1);
    glVertex3f(x0, y1, z0);
    glNormal3f(1, 0, 0);  // right
    glVertex3f(x1, y0, z1);
    glVertex3f(x1, y0, z0);
    glVertex3f(x1, y1, z0);
    glVertex3f(x1, y1, z1);
    glNormal3f(0, 0, -1);  // back
    glVertex3f(x1, y0, z0);
    glVertex3f(x0, y0, z0);
    glVertex3f(x0, y1, z0);
    glVertex3f(x1, y1, z0);
    glEnd();
}

LookColour mix(LookColour a, LookColour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void rect(float x0, float y0, float x1, float y1) {
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

void enterPixels(int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, width, height, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_COLOR_MATERIAL);
}

// ---- The lane ----

void drawLane(const LookCamera& camera, const LaneLayout& lane, const LookFrame& frame,
              const LookPalette& palette) {
    // A faint line at every C and a fainter one at every F, so the columns can be followed up.
    glBegin(GL_LINES);
    for (int key = 0; key < 88; ++key) {
        const int semitone = (key + 9) % 12;  // 0 is C
        if (semitone != 0 && semitone != 5) {
            continue;
        }
        const float shade = semitone == 0 ? 0.16f : 0.11f;
        glColor3f(shade, shade, shade + 0.02f);
        const float x = std::round(lane.column[key].left) - 1.5f;
        glVertex2f(x, lane.top);
        glVertex2f(x, lane.column[key].bottom);
    }
    glEnd();

    const float columnWidth = lane.column[39].right - lane.column[39].left;  // middle C's
    const float numberSize = std::clamp(columnWidth * 0.62f, 7.0f, 28.0f);
    for (const LookBar& bar : frame.bars) {
        const bool black = isBlackKey(bar.key);
        const LookColour base = palette.hand[bar.hand];
        // A black key's bar a shade darker, so that it stands apart from its neighbours.
        const LookColour fill = black ? mix(base, {0, 0, 0}, 0.28f) : base;
        const LookColour edge = mix(base, {0, 0, 0}, 0.6f);
        glColor3f(edge.r, edge.g, edge.b);
        rect(bar.left, bar.top, bar.right, bar.bottom);
        glColor3f(fill.r, fill.g, fill.b);
        rect(bar.left + 1.0f, bar.top + 1.0f, bar.right - 1.0f, bar.bottom - 1.0f);
        if (bar.printed) {
            // A fingering printed in the score: a white frame inside the bar.
            glColor3f(1.0f, 1.0f, 1.0f);
            const float t = std::max(1.5f, columnWidth * 0.1f);
            rect(bar.left + 1, bar.top + 1, bar.right - 1, bar.top + 1 + t);
            rect(bar.left + 1, bar.bottom - 1 - t, bar.right - 1, bar.bottom - 1);
            rect(bar.left + 1, bar.top + 1, bar.left + 1 + t, bar.bottom - 1);
            rect(bar.right - 1 - t, bar.top + 1, bar.right - 1, bar.bottom - 1);
        }
    }
    // Numbers last, so that no neighbour's bar covers them.
    for (const LookBar& bar : frame.bars) {
        if (bar.bottom - bar.top < numberSize * 1.2f) {
            continue;
        }
        const float x = (bar.left + bar.right) / 2.0f;
        const float y = bar.bottom - numberSize * 0.75f;
        drawText(std::to_string(bar.finger + 1), x, y, numberSize, TextAlign::Centre, 0.04f, 0.04f,
                 0.06f, 1.0f);
    }
    // Where the bars meet the keys: a thin bright line along the keyboard's back.
    glColor3f(0.45f, 0.45f, 0.5f);
    glBegin(GL_QUADS);
    for (int key = 0; key + 1 < 88; ++key) {
        const LaneColumn& a = lane.column[key];
        const LaneColumn& b = lane.column[key + 1];
        if (a.right <= a.left || b.right <= b.left) {
            continue;
        }
        const float x0 = (a.left + a.right) / 2.0f;
        const float x1 = (b.left + b.right) / 2.0f;
        glVertex2f(x0, a.bottom - 1.0f);
        glVertex2f(x1, b.bottom - 1.0f);
        glVertex2f(x1, b.bottom);
        glVertex2f(x0, a.bottom);
    }
    glEnd();
    (void)camera;
}

// ---- The keyboard and hands ----

void keyColour(int key, const LookFrame& frame, const LookPalette& palette) {
    const bool black = isBlackKey(key);
    const int hand = frame.keys[key].hand;
    if (hand >= 0) {
        const LookColour c = palette.hand[hand];
        glColor3f(c.r, c.g, c.b);
    } else if (black) {
        glColor3f(0.035f, 0.035f, 0.04f);
    } else {
        glColor3f(0.93f, 0.92f, 0.9f);
    }
}

void drawKeys(const LookFrame& frame, const LookPalette& palette) {
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    const GLfloat noShine[4] = {0.15f, 0.15f, 0.15f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, noShine);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 20.0f);
    // The key bed, dark, under the keys: what shows through the gaps. Nothing stands behind
    // the keys, where the lane's bars come down onto them.
    glColor3f(0.02f, 0.02f, 0.025f);
    box(-8.45f, 8.47f, -0.3f, kWhiteBottom + 0.01f, kHingeZ, kWhiteFront - 0.02f);
    for (int pass = 0; pass < 2; ++pass) {
        for (int key = 0; key < 88; ++key) {
            const bool black = isBlackKey(key);
            if (black != (pass == 1)) {
                continue;
            }
            const float x = KeyLayout[key].x;
            keyColour(key, frame, palette);
            glPushMatrix();
            if (frame.keys[key].hand >= 0) {
                glTranslatef(0.0f, 0.0f, kHingeZ);
                glRotatef(kPressTilt, 1.0f, 0.0f, 0.0f);
                glTranslatef(0.0f, 0.0f, -kHingeZ);
            }
            if (black) {
                box(x - kBlackHalf, x + kBlackHalf, kBlackBottom, kBlackTop, kHingeZ, kBlackFront);
            } else if (frame.keys[key].hand >= 0) {
                // A held white key's top is lit; its front has sunk below its neighbours' into
                // their shade.
                box(x - kWhiteHalf, x + kWhiteHalf, kWhiteBottom, kWhiteTop, kHingeZ, kWhiteFront,
                    &kSunkFront);
            } else {
                box(x - kWhiteHalf, x + kWhiteHalf, kWhiteBottom, kWhiteTop, kHingeZ, kWhiteFront);
            }
            glPopMatrix();
        }
    }
    glDisable(GL_COLOR_MATERIAL);
}

// Round solids for the hands: a unit ball and a unit tube, each made once into a display list
// and scaled where it is drawn (making them anew each time costs more than drawing them).
GLuint ballList = 0;
GLuint tubeList = 0;

void makeSolids() {
    if (ballList != 0) {
        return;
    }
    GLUquadric* quadric = gluNewQuadric();
    gluQuadricNormals(quadric, GLU_SMOOTH);
    ballList = glGenLists(2);
    tubeList = ballList + 1;
    glNewList(ballList, GL_COMPILE);
    gluSphere(quadric, 1.0, 14, 9);
    glEndList();
    glNewList(tubeList, GL_COMPILE);
    gluCylinder(quadric, 1.0, 1.0, 1.0, 12, 1);
    glEndList();
    gluDeleteQuadric(quadric);
}

// A ball scaled along the scene's axes.
void ellipsoid(glm::vec3 at, glm::vec3 radii) {
    glPushMatrix();
    glTranslatef(at.x, at.y, at.z);
    glScalef(radii.x, radii.y, radii.z);
    glCallList(ballList);
    glPopMatrix();
}

void ball(glm::vec3 at, float radius) {
    ellipsoid(at, glm::vec3(radius));
}

// A tapered round limb from a to b, with a ball on each end.
void limb(glm::vec3 a, glm::vec3 b, float radiusA, float radiusB) {
    const glm::vec3 d = b - a;
    const float length = glm::length(d);
    if (length < 1e-5f) {
        return;
    }
    glPushMatrix();
    glTranslatef(a.x, a.y, a.z);
    const glm::vec3 axis = glm::cross(glm::vec3(0, 0, 1), d / length);
    const float turn = std::acos(std::clamp(d.z / length, -1.0f, 1.0f)) * 57.29578f;
    if (glm::length(axis) > 1e-6f) {
        glRotatef(turn, axis.x, axis.y, axis.z);
    } else if (d.z < 0.0f) {
        glRotatef(180.0f, 1.0f, 0.0f, 0.0f);
    }
    // A unit tube tapered by scaling: the taper is small, so one radius in the middle serves.
    const float radius = (radiusA + radiusB) / 2.0f;
    glScalef(radius, radius, length);
    glCallList(tubeList);
    glPopMatrix();
    ball(b, radiusB);
}

// Finger widths, scene units: at the knuckle and at the tip (an adult's are about 18 and
// 13 mm across); the thumb is broader.
constexpr float kFingerRoot[5] = {0.15f, 0.12f, 0.125f, 0.115f, 0.1f};
constexpr float kFingerTip[5] = {0.1f, 0.085f, 0.088f, 0.083f, 0.075f};

void drawHand(const HandPose& hand, const LookPalette& palette) {
    makeSolids();
    setMaterial(skinOf(palette.skin));
    // The forearm and the wrist, leading out of the picture towards the player.
    limb(hand.elbowward, hand.wrist, 0.36f, 0.27f);
    ellipsoid(hand.wrist, {0.36f, 0.17f, 0.3f});
    // The palm: a flat body from the knuckles to the wrist, and the ball of the thumb.
    const glm::vec3 knuckles = (hand.fingers[1].joint[0] + hand.fingers[4].joint[0]) * 0.5f;
    const glm::vec3 middle = (knuckles + hand.wrist) * 0.5f;
    ellipsoid(middle + glm::vec3(0.0f, -0.02f, 0.0f), {hand.palmWidth * 0.52f, 0.16f, 0.6f});
    for (int f = 1; f < 5; ++f) {
        ball(hand.fingers[f].joint[0], kFingerRoot[f] * 1.02f);
    }
    const glm::vec3 thumbBall = (hand.fingers[0].joint[0] * 0.6f + hand.wrist * 0.4f);
    ellipsoid(thumbBall, {0.24f, 0.15f, 0.3f});
    for (int f = 0; f < 5; ++f) {
        const FingerPose& finger = hand.fingers[f];
        for (int bone = 0; bone < 3; ++bone) {
            const float t0 = static_cast<float>(bone) / 3.0f;
            const float t1 = static_cast<float>(bone + 1) / 3.0f;
            const float r0 = kFingerRoot[f] + (kFingerTip[f] - kFingerRoot[f]) * t0;
            const float r1 = kFingerRoot[f] + (kFingerTip[f] - kFingerRoot[f]) * t1;
            limb(finger.joint[bone], finger.joint[bone + 1], r0, r1);
        }
    }
}

// ---- The overlay ----

// The title card, drawn with the lane: behind the keyboard and the hands, which it never hides.
void drawTitle(const LookCamera& camera, const LookFrame& frame,
               const LookPerformance& performance) {
    const float w = static_cast<float>(camera.width);
    const float h = static_cast<float>(camera.height);
    if (frame.titleOpacity > 0.0f) {
        const float big = std::clamp(w * 0.045f, 14.0f, 72.0f);
        const float y = h * 0.3f;
        // A dark card behind the text, so that the bars passing behind it do not cut it up.
        const float across = std::max(textWidth(performance.title, big),
                                      textWidth(performance.composer, big * 0.6f)) +
                             big * 1.2f;
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glColor4f(kBackground[0], kBackground[1], kBackground[2], 0.85f * frame.titleOpacity);
        rect(w / 2.0f - across / 2.0f, y - big * 1.1f, w / 2.0f + across / 2.0f, y + big * 2.2f);
        drawText(performance.title, w / 2.0f, y, big, TextAlign::Centre, 1.0f, 1.0f, 1.0f,
                 frame.titleOpacity);
        drawText(performance.composer, w / 2.0f, y + big * 1.4f, big * 0.6f, TextAlign::Centre,
                 0.8f, 0.8f, 0.85f, frame.titleOpacity);
    }
}

void drawOverlay(const LookCamera& camera, const LookFrame& frame) {
    const float w = static_cast<float>(camera.width);
    const float h = static_cast<float>(camera.height);
    const float small = std::clamp(std::min(w, h) * 0.035f, 10.0f, 40.0f);
    // The progress line along the top edge.
    const float thick = std::max(2.0f, small * 0.18f);
    glColor3f(0.2f, 0.2f, 0.24f);
    rect(0.0f, 0.0f, w, thick);
    glColor3f(0.85f, 0.85f, 0.9f);
    rect(0.0f, 0.0f, w * static_cast<float>(frame.progress), thick);
    if (!frame.measure.empty()) {
        drawText("m. " + frame.measure, small * 0.6f, thick + small * 1.1f, small, TextAlign::Left,
                 0.8f, 0.8f, 0.85f, 0.9f);
    }
}
}  // namespace

void drawLookFrame(const LookPicture& picture, const LookPerformance& performance,
                   const LookPalette& palette, const LookTargets* targets) {
    const LookCamera& camera = picture.camera;
    const LaneLayout& lane = picture.lane;
    const LookFrame& frame = picture.frame;
    // Whatever the classic drawing set (lights, clear colour, matrices) comes back afterwards:
    // one process may draw both looks.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glViewport(0, 0, camera.width, camera.height);
    glClearColor(kBackground[0], kBackground[1], kBackground[2], 1.0f);
    int top = 0;
    int bottom = camera.height;
    if (targets != nullptr) {
        targets->picture();
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (targets == nullptr) {
        enterPixels(camera.width, camera.height);
        drawLane(camera, lane, frame, palette);
        drawTitle(camera, frame, performance);
    } else {
        // The scene's strip only, with samples.
        sceneRows(picture, &top, &bottom);
        targets->samples();
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, camera.height - bottom, camera.width, bottom - top);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(glm::value_ptr(camera.projection));
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(glm::value_ptr(camera.view));
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);
    glLightfv(GL_LIGHT0, GL_POSITION, kLightDirection);
    glLightfv(GL_LIGHT0, GL_AMBIENT, kLightAmbient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, kLightDiffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, kLightSpecular);
    drawKeys(frame, palette);
    for (int hand = 0; hand < 2; ++hand) {
        if (picture.handShown[hand]) {
            drawHand(picture.hands[hand], palette);
        }
    }
    glDisable(GL_NORMALIZE);

    if (targets != nullptr) {
        glDisable(GL_SCISSOR_TEST);
        targets->resolve(0, camera.height - bottom, camera.width, bottom - top);
        // The lane behind what the strip holds: drawn at the far end of the depth range, it
        // shows only where the strip left the background.
        enterPixels(camera.width, camera.height);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glDepthMask(GL_FALSE);
        glDepthRange(0.99999, 0.99999);
        drawLane(camera, lane, frame, palette);
        drawTitle(camera, frame, performance);
        glDepthRange(0.0, 1.0);
        glDepthMask(GL_TRUE);
        glDisable(GL_DEPTH_TEST);
    }

    enterPixels(camera.width, camera.height);
    drawOverlay(camera, frame);
    drawPedal(camera, frame.pedal);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}
