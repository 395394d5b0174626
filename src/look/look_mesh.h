#pragma once

#include <glm/glm.hpp>
#include <vector>

#include "geometry/hand_pose.h"
#include "look/look_frame.h"

// The new look's solids as plain triangles, computed without GL: the keyboard of one frame and
// each hand in its pose, every vertex with its normal and colour, so that the drawing hands
// each to GL in one call instead of hundreds of small ones (the software renderer pays for
// every call and every state change), and the same triangles cast the hands' shadows.
//
// Sections: the vertex and the mesh; the keyboard; the hands; shadows.

// ---- The mesh ----

struct MeshVertex {
    float x, y, z;     // scene units
    float nx, ny, nz;  // unit normal, outwards
    float r, g, b;     // 0..1
};

// Triangles, three vertices each, counter-clockwise seen from outside (so the drawing may cull
// the faces turned away).
struct LookMesh {
    std::vector<MeshVertex> vertices;
};

// ---- The keyboard ----

// Key bodies, scene units. White keys leave a gap of 0.015 between them (a real keyboard's is
// about a millimetre), over the dark key bed, so that each gap reads as a clean line.
constexpr float kLookWhiteHalf = 0.1485f;
constexpr float kLookWhiteBottom = -0.15f;
constexpr float kLookWhiteTop = 0.15f;
constexpr float kLookHingeZ = -0.825f;
constexpr float kLookWhiteFront = 0.825f;
constexpr float kLookBlackHalf = 0.072f;
constexpr float kLookBlackBottom = 0.125f;
constexpr float kLookBlackTop = 0.275f;
constexpr float kLookBlackFront = 0.2f;
// A held key turns about its hinge by this much, degrees: a visible dip at the front.
constexpr float kLookPressTilt = 2.5f;

// The key bed and all 88 keys, the held ones turned down and lit in their hand's colour.
void addKeyboard(const LookFrame& frame, const LookPalette& palette, LookMesh* mesh);

// ---- The hands ----

// One hand in its pose: forearm, wrist, palm, the ball of the thumb and the fingers' bones,
// rounded, in the palette's skin.
void addHand(const HandPose& hand, const LookPalette& palette, LookMesh* mesh);

// The round bodies of a hand besides its fingers' bones, as addHand makes them (axis-aligned
// ellipsoids): the wrist, the palm, the four knuckles and the ball of the thumb. What hides a
// thumb from a camera is measured with the same bodies (look/hand_sight.h).
struct HandBody {
    glm::vec3 centre;
    glm::vec3 radii;
};
constexpr int kHandBodies = 7;
void handBodies(const HandPose& hand, HandBody bodies[kHandBodies]);
// The forearm, from the pose's elbowward point (this radius) to its wrist (that one).
constexpr float kForearmRadius[2] = {0.36f, 0.27f};

// ---- Shadows ----

// The light the look is lit by: the direction towards it (from far away, scene frame).
constexpr float kLookLight[3] = {-0.25f, 1.0f, 0.7f};

// The matrix that flattens a point along the light onto the plane y = height: the hands'
// triangles through it are their shadow on the keys' tops.
glm::mat4 shadowProjection(float height);
