#include "look/hand_sight.h"

#include <algorithm>
#include <cmath>

#include "geometry/hand_contact.h"
#include "look/look_mesh.h"

// Sections: the eye; what hides a point; the thumb.

namespace {
// ---- The eye ----

glm::vec3 eyeOf(const LookCamera& camera) {
    return glm::vec3(glm::inverse(camera.view)[3]);
}

// ---- What hides a point ----

// Whether the segment from the eye to p passes through the ellipsoid: the segment scaled into
// the ellipsoid's unit ball comes nearer its centre than 1.
bool throughBody(glm::vec3 eye, glm::vec3 p, const HandBody& body) {
    const glm::vec3 a = (eye - body.centre) / body.radii;
    const glm::vec3 b = (p - body.centre) / body.radii;
    const glm::vec3 d = b - a;
    const float length = glm::dot(d, d);
    const float s = length > 1e-12f ? std::clamp(-glm::dot(a, d) / length, 0.0f, 1.0f) : 0.0f;
    return glm::length(a + d * s) < 1.0f;
}

// Whether the segment from the eye to p passes through a tapered limb from a (radius ra) to b
// (radius rb), its radius taken where the two segments come nearest.
bool throughLimb(glm::vec3 eye, glm::vec3 p, glm::vec3 a, glm::vec3 b, float ra, float rb) {
    float s = 0.0f;
    float t = 0.0f;
    const float distance = segmentDistance(eye, p, a, b, &s, &t);
    return distance < ra + (rb - ra) * t;
}

bool hidden(glm::vec3 eye, glm::vec3 p, const HandPose& hand) {
    if (throughLimb(eye, p, hand.elbowward, hand.wrist, kForearmRadius[0], kForearmRadius[1])) {
        return true;
    }
    HandBody bodies[kHandBodies];
    handBodies(hand, bodies);
    for (const HandBody& body : bodies) {
        if (throughBody(eye, p, body)) {
            return true;
        }
    }
    for (int f = 1; f < 5; ++f) {
        for (int bone = 0; bone < 3; ++bone) {
            if (throughLimb(eye, p, hand.fingers[f].joint[bone], hand.fingers[f].joint[bone + 1],
                            boneRadius(f, bone, 0.0f), boneRadius(f, bone, 1.0f))) {
                return true;
            }
        }
    }
    return false;
}
}  // namespace

// ---- The thumb ----

float thumbTipShown(const LookCamera& camera, const HandPose& hand) {
    const glm::vec3 eye = eyeOf(camera);
    const FingerPose& thumb = hand.fingers[0];
    constexpr float kAlong[3] = {0.5f, 0.75f, 1.0f};
    int seen = 0;
    for (float s : kAlong) {
        const glm::vec3 axis = thumb.joint[2] + (thumb.joint[3] - thumb.joint[2]) * s;
        const glm::vec3 toEye = eye - axis;
        const float away = glm::length(toEye);
        if (away < 1e-4f) {
            continue;
        }
        // On the surface towards the eye, a little inside it so that the thumb's own skin
        // does not count.
        const glm::vec3 p = axis + toEye / away * (boneRadius(0, 2, s) * 0.9f);
        seen += hidden(eye, p, hand) ? 0 : 1;
    }
    return static_cast<float>(seen) / 3.0f;
}
