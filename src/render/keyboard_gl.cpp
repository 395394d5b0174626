#include "render/keyboard_gl.h"

#include <GL/glut.h>

#include "animation/animation.h"
#include "geometry/key_layout.h"
#include "geometry/material.h"
#include "render/shapes_gl.h"
#include "score/score_model.h"

namespace {
// The hinge line of all keys, where the white keys end at the back.
constexpr float kHingeZ = -0.825f;
// Where a key body's centre sits in the hinge frame.
constexpr float kWhiteKeyY = 0.0f;
constexpr float kWhiteKeyZ = 0.825f;
constexpr float kBlackKeyY = 0.2f;
constexpr float kBlackKeyZ = 0.51f;
// Key bodies: a cube stretched along the key.
constexpr float kWhiteKeyStretch = 5.5f;
constexpr double kWhiteKeyCube = 0.3;
constexpr float kBlackKeyStretch = 6.875f;
constexpr double kBlackKeyCube = 0.15;

// The two key bodies never change, so each is compiled once into a display list and replayed:
// a solid cube is many small calls, and 88 of them per frame dominate the frame time.
GLuint whiteKeyList = 0;
GLuint blackKeyList = 0;

GLuint compileBody(float stretch, double cube) {
    GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glScalef(1.0f, 1.0f, stretch);
    drawSolidCube(cube);
    glEndList();
    return list;
}
}  // namespace

void drawWhiteKey() {
    if (whiteKeyList == 0) {
        whiteKeyList = compileBody(kWhiteKeyStretch, kWhiteKeyCube);
    }
    glCallList(whiteKeyList);
}

void drawBlackKey() {
    if (blackKeyList == 0) {
        blackKeyList = compileBody(kBlackKeyStretch, kBlackKeyCube);
    }
    glCallList(blackKeyList);
}

void drawKeyboard() {
    glTranslatef(0.0f, 0.0f, kHingeZ);
    // Draw no key whose state is missing rather than read past the end of the list.
    int keys = static_cast<int>(keyStates.size()) < kKeyCount ? static_cast<int>(keyStates.size())
                                                              : kKeyCount;
    for (int key = 0; key < keys; ++key) {
        glPushMatrix();
        const KeyLayoutEntry& entry = KeyLayout[key];
        KeyLook look = lookOfKey(entry.black, keyStates[key].angle);
        setMaterial(*look.material);
        // Rotating before translating turns the key about the hinge line, not its own centre.
        glRotatef(look.tilt, 1.0f, 0.0f, 0.0f);
        if (entry.black == 1.0f) {
            glTranslatef(entry.x, kBlackKeyY, kBlackKeyZ);
            drawBlackKey();
        } else {
            glTranslatef(entry.x, kWhiteKeyY, kWhiteKeyZ);
            drawWhiteKey();
        }
        glPopMatrix();
    }
}
