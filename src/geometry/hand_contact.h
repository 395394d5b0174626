#pragma once

#include <glm/glm.hpp>

#include "geometry/hand_pose.h"

// The new look's fingers as solids: each bone a capsule whose radius tapers from the knuckle to
// the tip as the drawn finger does, and the measure of how far two fingers of one hand go into
// each other. The solver keeps its fingers apart with it, and the tests check poses with it.
//
// Sections: the fingers' thickness; distances; contacts.

// ---- The fingers' thickness ----

// Radii, scene units, at the knuckle and at the tip (an adult's fingers are about 18 and 13 mm
// across); the thumb is broader. The drawn fingers taper linearly between the two.
extern const float kFingerRootRadius[5];
extern const float kFingerTipRadius[5];

// The radius of finger `finger`'s bone `bone` (0 from the knuckle) at `s` (0..1) along it.
float boneRadius(int finger, int bone, float s);

// ---- Distances ----

// The closest points of segments a0-a1 and b0-b1: their distance, and where they lie along each
// (0..1). Degenerate segments (a point) are handled as points.
float segmentDistance(glm::vec3 a0, glm::vec3 a1, glm::vec3 b0, glm::vec3 b1, float* s, float* t);

// ---- Contacts ----

// Where two fingers of one hand come nearest to going into each other.
struct FingerContact {
    float overlap = -1e9f;  // sum of the radii less the distance: > 0 when they intersect
    int finger[2] = {-1, -1};
    int bone[2] = {-1, -1};
    glm::vec3 point[2] = {glm::vec3(0.0f), glm::vec3(0.0f)};  // the closest points on each axis
};

// The deepest contact between bones of fingers `a` and `b` of one pose.
FingerContact fingerPairContact(const HandPose& pose, int a, int b);
// The deepest contact between any two fingers of the pose.
FingerContact deepestFingerContact(const HandPose& pose);
