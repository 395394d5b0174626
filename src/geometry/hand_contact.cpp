#include "geometry/hand_contact.h"

#include <algorithm>
#include <cmath>

// Sections: thickness; distances; contacts.

const float kFingerRootRadius[5] = {0.15f, 0.12f, 0.125f, 0.115f, 0.1f};
const float kFingerTipRadius[5] = {0.1f, 0.085f, 0.088f, 0.083f, 0.075f};

// ---- Thickness ----

float boneRadius(int finger, int bone, float s) {
    finger = std::clamp(finger, 0, 4);
    const float along = (static_cast<float>(std::clamp(bone, 0, 2)) + std::clamp(s, 0.0f, 1.0f)) /
                        static_cast<float>(kFingerJoints);
    return kFingerRootRadius[finger] +
           (kFingerTipRadius[finger] - kFingerRootRadius[finger]) * along;
}

// ---- Distances ----

float segmentDistance(glm::vec3 a0, glm::vec3 a1, glm::vec3 b0, glm::vec3 b1, float* s, float* t) {
    const glm::vec3 d1 = a1 - a0;
    const glm::vec3 d2 = b1 - b0;
    const glm::vec3 r = a0 - b0;
    const float a = glm::dot(d1, d1);
    const float e = glm::dot(d2, d2);
    const float f = glm::dot(d2, r);
    constexpr float kTiny = 1e-12f;
    float u = 0.0f;
    float v = 0.0f;
    if (a <= kTiny && e <= kTiny) {
        u = v = 0.0f;
    } else if (a <= kTiny) {
        v = std::clamp(f / e, 0.0f, 1.0f);
    } else {
        const float c = glm::dot(d1, r);
        if (e <= kTiny) {
            u = std::clamp(-c / a, 0.0f, 1.0f);
        } else {
            const float b = glm::dot(d1, d2);
            const float denominator = a * e - b * b;
            // Parallel segments: any point of the first will do; take its start.
            u = denominator > kTiny ? std::clamp((b * f - c * e) / denominator, 0.0f, 1.0f) : 0.0f;
            v = (b * u + f) / e;
            if (v < 0.0f) {
                v = 0.0f;
                u = std::clamp(-c / a, 0.0f, 1.0f);
            } else if (v > 1.0f) {
                v = 1.0f;
                u = std::clamp((b - c) / a, 0.0f, 1.0f);
            }
        }
    }
    *s = u;
    *t = v;
    return glm::length((a0 + d1 * u) - (b0 + d2 * v));
}

// ---- Contacts ----

FingerContact fingerPairContact(const HandPose& pose, int a, int b) {
    FingerContact deepest;
    if (a < 0 || a > 4 || b < 0 || b > 4 || a == b) {
        return deepest;
    }
    const FingerPose& fa = pose.fingers[a];
    const FingerPose& fb = pose.fingers[b];
    for (int i = 0; i < kFingerJoints; ++i) {
        for (int j = 0; j < kFingerJoints; ++j) {
            float s = 0.0f;
            float t = 0.0f;
            const float distance =
                segmentDistance(fa.joint[i], fa.joint[i + 1], fb.joint[j], fb.joint[j + 1], &s, &t);
            const float overlap = boneRadius(a, i, s) + boneRadius(b, j, t) - distance;
            if (overlap > deepest.overlap) {
                deepest.overlap = overlap;
                deepest.finger[0] = a;
                deepest.finger[1] = b;
                deepest.bone[0] = i;
                deepest.bone[1] = j;
                deepest.point[0] = fa.joint[i] + (fa.joint[i + 1] - fa.joint[i]) * s;
                deepest.point[1] = fb.joint[j] + (fb.joint[j + 1] - fb.joint[j]) * t;
            }
        }
    }
    return deepest;
}

FingerContact deepestFingerContact(const HandPose& pose) {
    FingerContact deepest;
    for (int a = 0; a < 5; ++a) {
        for (int b = a + 1; b < 5; ++b) {
            const FingerContact c = fingerPairContact(pose, a, b);
            if (c.overlap > deepest.overlap) {
                deepest = c;
            }
        }
    }
    return deepest;
}
