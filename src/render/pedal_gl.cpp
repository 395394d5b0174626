#include "render/pedal_gl.h"

#include <GL/gl.h>

#include <algorithm>

namespace {
// The pedal up, grey as the overlay's text, and down, in warm brass.
constexpr float kUp[3] = {0.55f, 0.55f, 0.6f};
constexpr float kDown[3] = {0.96f, 0.78f, 0.32f};
constexpr float kBase[3] = {0.2f, 0.2f, 0.24f};

void quad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3) {
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y1);
    glVertex2f(x2, y2);
    glVertex2f(x3, y3);
    glEnd();
}
}  // namespace

void drawPedal(const LookCamera& camera, float depth) {
    if (!(depth >= 0.0f)) {
        return;
    }
    depth = std::min(depth, 1.0f);
    const float w = static_cast<float>(camera.width);
    const float h = static_cast<float>(camera.height);
    const float size = std::clamp(std::min(w, h) * 0.07f, 14.0f, 90.0f);
    // Hinge at the back (left), the foot's end at the front (right); the front drops as it
    // goes down.
    const float right = w - size * 0.5f;
    const float left = right - size * 1.6f;
    const float hingeY = size * 0.9f;
    const float thick = size * 0.16f;
    const float frontY = hingeY - size * 0.28f + depth * size * 0.5f;
    glColor3f(kBase[0], kBase[1], kBase[2]);
    quad(left - size * 0.1f, hingeY + thick * 2.6f, right + size * 0.1f, hingeY + thick * 2.6f,
         right + size * 0.1f, hingeY + thick * 3.4f, left - size * 0.1f, hingeY + thick * 3.4f);
    quad(left, hingeY - thick * 0.5f, left + size * 0.22f, hingeY - thick * 0.5f,
         left + size * 0.22f, hingeY + thick * 2.6f, left, hingeY + thick * 2.6f);
    glColor3f(kUp[0] + (kDown[0] - kUp[0]) * depth, kUp[1] + (kDown[1] - kUp[1]) * depth,
              kUp[2] + (kDown[2] - kUp[2]) * depth);
    quad(left, hingeY - thick, right, frontY - thick, right, frontY + thick, left, hingeY + thick);
}
