#include "look/look_mesh.h"

#include <algorithm>
#include <cmath>
#include <glm/gtc/matrix_transform.hpp>

#include "geometry/hand_contact.h"
#include "geometry/key_layout.h"

// Sections: round solids (balls and limbs); boxes; the keyboard; the hands; shadows.

namespace {
constexpr float kPi = 3.14159265f;

// ---- Round solids ----

// A unit ball cut into `slices` around and `stacks` from pole to pole: the points of each
// triangle, which are also their normals. Small balls (finger joints, a few pixels across) take
// the coarse one, the palm and the arm the fine one: both look round at their size.
struct UnitBall {
    std::vector<glm::vec3> points;
};

UnitBall makeBall(int slices, int stacks) {
    UnitBall ball;
    auto at = [&](int slice, int stack) {
        const float polar = kPi * static_cast<float>(stack) / static_cast<float>(stacks);
        const float around = 2.0f * kPi * static_cast<float>(slice) / static_cast<float>(slices);
        return glm::vec3(std::sin(polar) * std::cos(around), std::cos(polar),
                         -std::sin(polar) * std::sin(around));
    };
    for (int stack = 0; stack < stacks; ++stack) {
        for (int slice = 0; slice < slices; ++slice) {
            const glm::vec3 a = at(slice, stack);
            const glm::vec3 b = at(slice, stack + 1);
            const glm::vec3 c = at(slice + 1, stack + 1);
            const glm::vec3 d = at(slice + 1, stack);
            // Outward and counter-clockwise: down the meridian, then round.
            if (stack > 0) {
                ball.points.insert(ball.points.end(), {a, b, d});
            }
            if (stack + 1 < stacks) {
                ball.points.insert(ball.points.end(), {d, b, c});
            }
        }
    }
    return ball;
}

const UnitBall& coarseBall() {
    static const UnitBall ball = makeBall(9, 6);
    return ball;
}

const UnitBall& fineBall() {
    static const UnitBall ball = makeBall(16, 10);
    return ball;
}

constexpr float kFineFrom = 0.2f;  // radius, scene units, from which a ball is cut finely

void push(LookMesh* mesh, glm::vec3 p, glm::vec3 n, const LookColour& c) {
    mesh->vertices.push_back({p.x, p.y, p.z, n.x, n.y, n.z, c.r, c.g, c.b});
}

// A ball scaled along the scene's axes; its normals follow the scaling.
void ellipsoid(glm::vec3 at, glm::vec3 radii, const LookColour& colour, LookMesh* mesh) {
    const float largest = std::max({radii.x, radii.y, radii.z});
    const UnitBall& ball = largest >= kFineFrom ? fineBall() : coarseBall();
    for (const glm::vec3& u : ball.points) {
        push(mesh, at + u * radii, glm::normalize(u / radii), colour);
    }
}

// A tapered round limb from a to b (a truncated cone), with a ball closing its end at b.
void limb(glm::vec3 a, glm::vec3 b, float radiusA, float radiusB, const LookColour& colour,
          LookMesh* mesh) {
    const glm::vec3 d = b - a;
    const float length = glm::length(d);
    if (length < 1e-5f) {
        return;
    }
    const glm::vec3 axis = d / length;
    // Two directions across the limb.
    const glm::vec3 helper =
        std::fabs(axis.y) < 0.9f ? glm::vec3(0.0f, 1.0f, 0.0f) : glm::vec3(1.0f, 0.0f, 0.0f);
    const glm::vec3 u = glm::normalize(glm::cross(helper, axis));
    const glm::vec3 v = glm::cross(axis, u);
    const int slices = std::max(radiusA, radiusB) >= kFineFrom ? 16 : 10;
    // The side's normal leans towards the thin end by the taper's slope.
    const float slope = (radiusA - radiusB) / length;
    auto around = [&](int slice) {
        const float t = 2.0f * kPi * static_cast<float>(slice) / static_cast<float>(slices);
        return u * std::cos(t) + v * std::sin(t);
    };
    for (int slice = 0; slice < slices; ++slice) {
        const glm::vec3 r0 = around(slice);
        const glm::vec3 r1 = around(slice + 1);
        const glm::vec3 n0 = glm::normalize(r0 + axis * slope);
        const glm::vec3 n1 = glm::normalize(r1 + axis * slope);
        const glm::vec3 a0 = a + r0 * radiusA;
        const glm::vec3 a1 = a + r1 * radiusA;
        const glm::vec3 b0 = b + r0 * radiusB;
        const glm::vec3 b1 = b + r1 * radiusB;
        push(mesh, a0, n0, colour);
        push(mesh, a1, n1, colour);
        push(mesh, b1, n1, colour);
        push(mesh, a0, n0, colour);
        push(mesh, b1, n1, colour);
        push(mesh, b0, n0, colour);
    }
    ellipsoid(b, glm::vec3(radiusB), colour, mesh);
}

// ---- Boxes ----

// A quad as two triangles, corners counter-clockwise seen from outside.
void quad(LookMesh* mesh, const glm::mat4& place, glm::vec3 p0, glm::vec3 p1, glm::vec3 p2,
          glm::vec3 p3, glm::vec3 normal, const LookColour& colour) {
    const glm::vec3 q[4] = {
        glm::vec3(place * glm::vec4(p0, 1.0f)), glm::vec3(place * glm::vec4(p1, 1.0f)),
        glm::vec3(place * glm::vec4(p2, 1.0f)), glm::vec3(place * glm::vec4(p3, 1.0f))};
    const glm::vec3 n = glm::normalize(glm::vec3(place * glm::vec4(normal, 0.0f)));
    for (int i : {0, 1, 2, 0, 2, 3}) {
        push(mesh, q[i], n, colour);
    }
}

// A box without its underside (nothing sees it), turned by `place`; `front` is the front
// face's colour.
void box(LookMesh* mesh, const glm::mat4& place, float x0, float x1, float y0, float y1, float z0,
         float z1, const LookColour& colour, const LookColour& front) {
    quad(mesh, place, {x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, {0, 1, 0}, colour);
    quad(mesh, place, {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}, {0, 0, 1}, front);
    quad(mesh, place, {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}, {-1, 0, 0}, colour);
    quad(mesh, place, {x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {1, 0, 0}, colour);
    quad(mesh, place, {x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {0, 0, -1}, colour);
}

// ---- The keyboard ----

const LookColour kKeyBed = {0.02f, 0.02f, 0.025f};
const LookColour kBlackKey = {0.035f, 0.035f, 0.04f};
const LookColour kWhiteKey = {0.93f, 0.92f, 0.9f};
// The front of a held white key, in its neighbours' shade.
const LookColour kSunkFront = {0.5f, 0.5f, 0.49f};

// ---- The hands ----

// The fingers' thickness is the hand model's (geometry/hand_contact.h), so that the fingers
// drawn are the solids the poses are checked with.
constexpr const float* kFingerRoot = kFingerRootRadius;
constexpr const float* kFingerTip = kFingerTipRadius;
}  // namespace

void addKeyboard(const LookFrame& frame, const LookPalette& palette, LookMesh* mesh) {
    const glm::mat4 still(1.0f);
    // A held key turns about its hinge.
    const glm::mat4 held =
        glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, kLookHingeZ)) *
        glm::rotate(glm::mat4(1.0f), glm::radians(kLookPressTilt), glm::vec3(1.0f, 0.0f, 0.0f)) *
        glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, -kLookHingeZ));
    // Front to back, the black keys first and the bed last, so that the depth test turns away
    // what the nearer ones cover before it is coloured.
    for (int pass = 0; pass < 2; ++pass) {
        for (int key = 0; key < 88; ++key) {
            const bool black = isBlackKey(key);
            if (black != (pass == 0)) {
                continue;
            }
            const int hand = frame.keys[key].hand;
            const bool down = hand == 0 || hand == 1;
            const LookColour colour = down ? palette.hand[hand] : black ? kBlackKey : kWhiteKey;
            const glm::mat4& place = down ? held : still;
            const float x = KeyLayout[key].x;
            if (black) {
                box(mesh, place, x - kLookBlackHalf, x + kLookBlackHalf, kLookBlackBottom,
                    kLookBlackTop, kLookHingeZ, kLookBlackFront, colour, colour);
            } else {
                // A held white key's top is lit; its front has sunk below its neighbours' into
                // their shade.
                box(mesh, place, x - kLookWhiteHalf, x + kLookWhiteHalf, kLookWhiteBottom,
                    kLookWhiteTop, kLookHingeZ, kLookWhiteFront, colour,
                    down ? kSunkFront : colour);
            }
        }
    }
    // The key bed, dark, under the keys: what shows through the gaps. Nothing stands behind
    // the keys, where the lane's bars come down onto them.
    box(mesh, still, -8.45f, 8.47f, -0.3f, kLookWhiteBottom + 0.01f, kLookHingeZ,
        kLookWhiteFront - 0.02f, kKeyBed, kKeyBed);
}

void handBodies(const HandPose& hand, HandBody bodies[kHandBodies]) {
    // The wrist; the palm, a flat body from the knuckles to the wrist; the knuckles; the ball
    // of the thumb.
    bodies[0] = {hand.wrist, {0.36f, 0.17f, 0.3f}};
    const glm::vec3 knuckles = (hand.fingers[1].joint[0] + hand.fingers[4].joint[0]) * 0.5f;
    const glm::vec3 middle = (knuckles + hand.wrist) * 0.5f;
    bodies[1] = {middle + glm::vec3(0.0f, -0.02f, 0.0f), {hand.palmWidth * 0.52f, 0.16f, 0.6f}};
    for (int f = 1; f < 5; ++f) {
        bodies[1 + f] = {hand.fingers[f].joint[0], glm::vec3(kFingerRoot[f] * 1.02f)};
    }
    bodies[6] = {hand.fingers[0].joint[0] * 0.6f + hand.wrist * 0.4f, {0.24f, 0.15f, 0.3f}};
}

void addHand(const HandPose& hand, const LookPalette& palette, LookMesh* mesh) {
    const LookColour& skin = palette.skin;
    // The forearm and the wrist, leading out of the picture towards the player, the palm, the
    // knuckles and the ball of the thumb.
    limb(hand.elbowward, hand.wrist, kForearmRadius[0], kForearmRadius[1], skin, mesh);
    HandBody bodies[kHandBodies];
    handBodies(hand, bodies);
    for (const HandBody& body : bodies) {
        ellipsoid(body.centre, body.radii, skin, mesh);
    }
    for (int f = 0; f < 5; ++f) {
        const FingerPose& finger = hand.fingers[f];
        for (int bone = 0; bone < 3; ++bone) {
            const float t0 = static_cast<float>(bone) / 3.0f;
            const float t1 = static_cast<float>(bone + 1) / 3.0f;
            const float r0 = kFingerRoot[f] + (kFingerTip[f] - kFingerRoot[f]) * t0;
            const float r1 = kFingerRoot[f] + (kFingerTip[f] - kFingerRoot[f]) * t1;
            limb(finger.joint[bone], finger.joint[bone + 1], r0, r1, skin, mesh);
        }
    }
}

glm::mat4 shadowProjection(float height) {
    const float lx = kLookLight[0] / kLookLight[1];
    const float lz = kLookLight[2] / kLookLight[1];
    // p' = p - light * (p.y - height) / light.y, column by column.
    glm::mat4 m(1.0f);
    m[1][0] = -lx;
    m[1][1] = 0.0f;
    m[1][2] = -lz;
    m[3][0] = lx * height;
    m[3][1] = height;
    m[3][2] = lz * height;
    return m;
}
