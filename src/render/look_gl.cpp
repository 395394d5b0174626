#include "render/look_gl.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <glm/gtc/type_ptr.hpp>
#include <string>
#include <utility>
#include <vector>

#include "geometry/key_layout.h"
#include "geometry/material.h"
#include "look/look_mesh.h"
#include "look/look_regions.h"
#include "render/pedal_gl.h"
#include "render/smooth_gl.h"
#include "render/text_gl.h"

// Sections: colours and light; the lane (2-D); the keyboard, its gaps, the hands and their
// shadows (3-D, triangles from look/look_mesh.h); the overlay (2-D); the keyboard at rest,
// kept; the frame.

namespace {
// ---- Colours and light ----

constexpr float kBackground[3] = {0.055f, 0.06f, 0.075f};
// The key bed's colour as it shows between the keys.
constexpr float kGap[3] = {0.05f, 0.05f, 0.06f};

// The light the shadows are cast by; w = 0: from far away.
const GLfloat kLightDirection[4] = {kLookLight[0], kLookLight[1], kLookLight[2], 0.0f};
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
        if (bar.right - bar.left > 2.0f && bar.bottom - bar.top > 2.0f) {
            // The edge as a frame round the fill, not a rectangle under it: each pixel of the
            // bar is filled once (the software renderer pays by the pixel), and rectangles that
            // share their sides cover the same pixels as the one they divide.
            rect(bar.left, bar.top, bar.right, bar.top + 1.0f);
            rect(bar.left, bar.bottom - 1.0f, bar.right, bar.bottom);
            rect(bar.left, bar.top + 1.0f, bar.left + 1.0f, bar.bottom - 1.0f);
            rect(bar.right - 1.0f, bar.top + 1.0f, bar.right, bar.bottom - 1.0f);
        } else {
            rect(bar.left, bar.top, bar.right, bar.bottom);
        }
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

// The frame's triangles, kept from frame to frame so that their memory is reused.
LookMesh keyboardMesh;
LookMesh handMesh[2];

// The vertices [first, first + count) of each range, or all of them without ranges.
void drawMesh(const LookMesh& mesh, bool colours,
              const std::vector<std::pair<size_t, size_t>>* ranges = nullptr) {
    if (mesh.vertices.empty()) {
        return;
    }
    const GLsizei stride = sizeof(MeshVertex);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, &mesh.vertices[0].x);
    if (colours) {
        glEnableClientState(GL_NORMAL_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glNormalPointer(GL_FLOAT, stride, &mesh.vertices[0].nx);
        glColorPointer(3, GL_FLOAT, stride, &mesh.vertices[0].r);
    }
    if (ranges == nullptr) {
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(mesh.vertices.size()));
    } else {
        for (const auto& [first, count] : *ranges) {
            glDrawArrays(GL_TRIANGLES, static_cast<GLint>(first), static_cast<GLsizei>(count));
        }
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

// The keyboard mesh as built (all of it, or the ranges given, in its order).
void drawKeys(const std::vector<std::pair<size_t, size_t>>* ranges) {
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    const GLfloat noShine[4] = {0.15f, 0.15f, 0.15f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, noShine);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 20.0f);
    drawMesh(keyboardMesh, true, ranges);
    glDisable(GL_COLOR_MATERIAL);
}

// The gaps between white keys, drawn as smoothed lines over the keys' tops and fronts: about a
// pixel wide at most sizes, they would otherwise come and go from row to row. The lines stand at
// the keys' height at rest: beside a held key, which has sunk, that is its neighbour's edge.
void drawGaps() {
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    glEnable(GL_LINE_SMOOTH);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glLineWidth(1.0f);
    glDepthMask(GL_FALSE);
    glColor4f(kGap[0], kGap[1], kGap[2], 0.75f);
    const float lift = 0.002f;
    glBegin(GL_LINES);
    int previous = -1;
    for (int key = 0; key < 88; ++key) {
        if (isBlackKey(key)) {
            continue;
        }
        if (previous >= 0) {
            const float x = (KeyLayout[previous].x + KeyLayout[key].x) / 2.0f;
            // Behind the black keys the gap is hidden by them; the line runs from the hinge.
            glVertex3f(x, kLookWhiteTop + lift, kLookHingeZ);
            glVertex3f(x, kLookWhiteTop + lift, kLookWhiteFront + lift);
            glVertex3f(x, kLookWhiteTop + lift, kLookWhiteFront + lift);
            glVertex3f(x, kLookWhiteBottom, kLookWhiteFront + lift);
        }
        previous = key;
    }
    glEnd();
    glDepthMask(GL_TRUE);
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
}

// The hands' shadows on the white keys' tops: their triangles flattened along the light onto
// the tops' plane, kept to the keys, darkening each pixel once (the stencil marks the pixels
// already darkened, where there is one; otherwise overlapping triangles darken once through the
// depth test, as they lie in one plane). Black keys stand above the plane and hide it.
constexpr float kShadowStrength = 0.38f;

void drawShadows() {
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    glColor4f(0.0f, 0.0f, 0.0f, kShadowStrength);
    GLint stencilBits = 0;
    glGetIntegerv(GL_STENCIL_BITS, &stencilBits);
    if (stencilBits > 0) {
        // Cleared with the strip.
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_EQUAL, 0, 0xFF);
        glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
        glDepthMask(GL_FALSE);
    }
    // Only over the keys, front to back.
    const GLdouble behindFront[4] = {0.0, 0.0, -1.0, kLookWhiteFront};
    const GLdouble beforeHinge[4] = {0.0, 0.0, 1.0, -kLookHingeZ};
    glClipPlane(GL_CLIP_PLANE0, behindFront);
    glClipPlane(GL_CLIP_PLANE1, beforeHinge);
    glEnable(GL_CLIP_PLANE0);
    glEnable(GL_CLIP_PLANE1);
    glPushMatrix();
    glMultMatrixf(glm::value_ptr(shadowProjection(kLookWhiteTop + 0.002f)));
    // Flattened, a closed solid's triangles that face one way already cover its whole shadow:
    // the others are culled, which halves the triangles the renderer fills for the shadows.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    drawMesh(handMesh[0], false);
    drawMesh(handMesh[1], false);
    glDisable(GL_CULL_FACE);
    glPopMatrix();
    glDisable(GL_CLIP_PLANE0);
    glDisable(GL_CLIP_PLANE1);
    glDisable(GL_STENCIL_TEST);
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
}

void buildHands(const LookPicture& picture, const LookPalette& palette) {
    for (int h = 0; h < 2; ++h) {
        handMesh[h].vertices.clear();
        // A hand left to the player (--hand) is not drawn and casts no shadow.
        if (picture.handShown[h]) {
            addHand(picture.hands[h], palette, &handMesh[h]);
        }
    }
}

// The hands of buildHands, before the keys: the depth test then turns away the keys' pixels
// they cover before those are coloured. Their shadows come after the keys, over which they
// darken.
void drawHands(const LookPalette& palette) {
    // Skin: its colour comes with the triangles, its soft shine from the material.
    setMaterial(skinOf(palette.skin));
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
    // Closed solids: the faces turned away are hidden anyway, and culled they cost nothing.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    drawMesh(handMesh[0], true);
    drawMesh(handMesh[1], true);
    glDisable(GL_CULL_FACE);
    glDisable(GL_COLOR_MATERIAL);
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

// ---- The keyboard at rest, kept ----

// Where the camera stands still from frame to frame, the strip of the keyboard alone with no key
// held is drawn and smoothed once and kept (render/smooth_gl.h); a frame then draws and smooths
// only the rectangles where the hands, their shadows or a key not at rest may change a pixel,
// and lays the kept pixels elsewhere: the same picture, for a fraction of the keys' and the
// pass's pixels. A camera that moves (follow) draws every frame whole, as does a frame whose
// camera differs from the one before (a picture is then not kept for one frame's use).
bool restKeeping = true;

// A key's solid is one run of this many vertices of the keyboard's mesh (five quads): the
// rectangles of what changed are found key by key.
constexpr size_t kKeyRun = 30;
// Pixels round what may change: the pass changes a pixel's neighbours and reads theirs, and
// the projections here and in the renderer may round a pixel apart.
constexpr int kSmoothedRound = 3;
constexpr int kRedrawnRound = 4;

struct CameraKey {
    int width = 0;
    int height = 0;
    glm::mat4 projection{0.0f};
    glm::mat4 view{0.0f};

    bool operator==(const CameraKey& other) const {
        return width == other.width && height == other.height && projection == other.projection &&
               view == other.view;
    }
};

CameraKey previousCamera;  // the frame before's
CameraKey restCamera;      // the kept picture's
LookMesh restMesh;         // the keyboard at rest as it was kept
LookMesh restNow;          // this frame's keyboard at rest (the palette may have changed)
bool restKept = false;
bool lastOverRest = false;  // whether the frame drawn last was
LookStripPixels lastPixels;

// Pixels of the rectangles (not overlapping) within rows top..bottom.
long pixelsOf(const std::vector<PixelRect>& rects, int top, int bottom) {
    long pixels = 0;
    for (const PixelRect& r : rects) {
        pixels += static_cast<long>(r.right - r.left) *
                  std::max(0, std::min(r.bottom, bottom) - std::max(r.top, top));
    }
    return pixels;
}

bool sameMesh(const LookMesh& a, const LookMesh& b) {
    return a.vertices.size() == b.vertices.size() &&
           std::equal(a.vertices.begin(), a.vertices.end(), b.vertices.begin(),
                      [](const MeshVertex& p, const MeshVertex& q) {
                          return p.x == q.x && p.y == q.y && p.z == q.z && p.nx == q.nx &&
                                 p.ny == q.ny && p.nz == q.nz && p.r == q.r && p.g == q.g &&
                                 p.b == q.b;
                      });
}

void enterScene(const LookCamera& camera) {
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
}

// Whether this frame may be drawn over the kept keyboard at rest, keeping it first where the
// camera stood as still in the frame before. The picture's state is as it was.
bool restReady(const LookPicture& picture, const LookPalette& palette) {
    const LookCamera& camera = picture.camera;
    const CameraKey now{camera.width, camera.height, camera.projection, camera.view};
    const bool still = now == previousCamera;
    previousCamera = now;
    if (!restKeeping || !still) {
        return false;
    }
    static const LookFrame atRest;  // every key up
    restNow.vertices.clear();
    addKeyboard(atRest, palette, &restNow);
    if (restKept && now == restCamera && sameMesh(restNow, restMesh)) {
        return true;
    }
    restKept = false;
    PixelRect keys;
    if (!keyboardRegion(camera, &keys) ||
        !beginRestPicture(camera.width, camera.height,
                          std::clamp(keys.top, 0, camera.height - 1))) {
        return false;
    }
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    enterScene(camera);
    std::swap(keyboardMesh, restNow);
    drawKeys(nullptr);
    std::swap(keyboardMesh, restNow);
    drawGaps();
    glDisable(GL_NORMALIZE);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
    if (!endRestPicture()) {
        return false;
    }
    restMesh.vertices = restNow.vertices;
    restCamera = now;
    restKept = true;
    return true;
}
}  // namespace

void drawLookFrame(const LookPicture& picture, const LookPerformance& performance,
                   const LookPalette& palette) {
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
    glClearStencil(0);
    // The flat drawing needs no depth: the picture's depth and stencil are cleared only when
    // the 3-D part is drawn straight in (the strip has its own), which saves a pass over every
    // pixel.
    glClear(GL_COLOR_BUFFER_BIT);
    // The lane and the title card first: the keyboard and the hands lie over them.
    enterPixels(camera.width, camera.height);
    drawLane(camera, lane, frame, palette);
    drawTitle(camera, frame, performance);

    int top = 0;
    int bottom = camera.height;
    sceneRows(picture, &top, &bottom);
    // The hands and the keys first, so that the smoothing knows where they lie.
    buildHands(picture, palette);
    keyboardMesh.vertices.clear();
    addKeyboard(frame, palette, &keyboardMesh);
    const LookMesh* const hands[2] = {&handMesh[0], &handMesh[1]};
    // Over the keyboard at rest where it is kept: what may differ from it, with the strip's
    // first row, where the pass takes a row's neighbour beyond the strip to be the row itself.
    // The kept picture was drawn with the strip reaching the picture's bottom edge; a strip
    // ending higher places the scene on its target shifted by whole rows, which the renderer
    // rounds a few edge pixels apart from, so such a frame (the side view's, at times) is drawn
    // whole.
    std::vector<PixelRect> changed;
    bool overRest = restReady(picture, palette) && bottom == camera.height &&
                    handBoxes(camera, hands, 2, &changed);
    // The hands' boxes serve the regions too.
    const std::vector<PixelRect> regions =
        overRest ? sceneRegions(picture, changed) : std::vector<PixelRect>();
    overRest = overRest && keyChangeBoxes(camera, keyboardMesh, restMesh, kKeyRun, &changed);
    std::vector<PixelRect> redrawn;
    std::vector<PixelRect> afresh;
    if (overRest) {
        changed.push_back({0, top, camera.width, top + 1});
        redrawn = disjointCover(widened(changed, kRedrawnRound), camera.width, camera.height);
        // The pass smooths afresh round what changed; elsewhere the kept pixels are laid now.
        const std::vector<PixelRect> around = widened(changed, kSmoothedRound);
        afresh = coverWithin(regions, around, camera.width, camera.height);
        const std::vector<PixelRect> kept =
            coverWithout(regions, around, camera.width, camera.height);
        layRestPicture(camera.width, camera.height, top, bottom, kept);
        lastPixels = {pixelsOf(kept, top, bottom), pixelsOf(afresh, top, bottom),
                      pixelsOf(redrawn, top, bottom)};
    }
    // Once the kept pixels are laid, the strip's pass lays only the others, even where the
    // strip could not be kept to the redrawn rectangles after all.
    const bool keptLaid = overRest;
    bool smooth = false;
    if (overRest) {
        smooth = beginSmoothStrip(camera.width, camera.height, top, bottom, redrawn);
        overRest = smooth;
    }
    if (!smooth) {
        smooth = beginSmoothStrip(camera.width, camera.height, top, bottom);
    }
    if (!smooth) {
        glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
    enterScene(camera);
    drawHands(palette);
    // Handed to the renderer now, its raster threads fill the hands while this thread still
    // transforms the keys and the shadows, instead of waiting for the whole strip at once.
    glFlush();
    if (overRest) {
        // Only the keys that reach a redrawn pixel: elsewhere the strip's depth turns all away.
        const auto ranges = runsMeeting(camera, keyboardMesh, kKeyRun, redrawn);
        drawKeys(&ranges);
    } else {
        drawKeys(nullptr);
    }
    drawGaps();
    drawShadows();
    glDisable(GL_NORMALIZE);
    lastOverRest = overRest;
    if (keptLaid && smooth) {
        endSmoothStrip(afresh);
    } else if (smooth) {
        const std::vector<PixelRect> all = sceneRegions(picture, hands, 2);
        endSmoothStrip(all);
        lastPixels = {0, pixelsOf(all, top, bottom),
                      static_cast<long>(bottom - top) * camera.width};
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

void keepLookKeyboardAtRest(bool keep) {
    restKeeping = keep;
}

bool lookFrameDrawnOverRest() {
    return lastOverRest;
}

LookStripPixels lookStripPixels() {
    return lastPixels;
}
