#include "look/look_camera.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <glm/gtc/matrix_transform.hpp>

namespace {
// How far below the horizon each view looks, radians, and its turn about the vertical axis.
struct Aim {
    float pitch;  // down from the horizontal
    float yaw;    // 0: looking along -z (from the player); positive turns the eye towards +x
};

Aim aimOf(LookView view) {
    switch (view) {
        case LookView::Above:
            return {1.35f, 0.0f};
        case LookView::Side:
            return {0.8f, 0.5f};
        case LookView::Player:
        case LookView::Follow:
        default:
            // A player's eyes are about half a metre above the keys and a little in front of
            // them, looking down at about 45 degrees; a little steeper still, so that the palms
            // hide less of the keys they play.
            return {0.85f, 0.0f};
    }
}

// Half the horizontal field of view, as a tangent: 56 degrees across, a normal lens, so that
// the far end of the keyboard is not much smaller than the near one.
constexpr float kHalfWidthSlope = 0.53f;

// What must be in the picture below the keys: the fingers, palms and wrists in front of them.
constexpr float kFrontReach = 2.1f;
constexpr float kFrontDrop = -0.05f;
// The keys' top at the hinge: the note lane starts here.
constexpr float kBackTop = 0.275f;
constexpr float kBackZ = -0.83f;
// The front of the white keys.
constexpr float kFrontZ = 0.825f;
constexpr float kNear = 0.2f;
constexpr float kFar = 200.0f;
}  // namespace

bool lookViewFromName(const char* name, LookView* view) {
    static const struct {
        const char* name;
        LookView view;
    } kNames[] = {{"player", LookView::Player},
                  {"above", LookView::Above},
                  {"side", LookView::Side},
                  {"follow", LookView::Follow}};
    if (name == nullptr) {
        return false;
    }
    for (const auto& entry : kNames) {
        if (std::strcmp(entry.name, name) == 0) {
            *view = entry.view;
            return true;
        }
    }
    return false;
}

LookCamera makeLookCamera(LookView view, int width, int height, float rangeLeft, float rangeRight) {
    LookCamera camera;
    camera.width = std::max(1, width);
    camera.height = std::max(1, height);
    if (!(rangeRight > rangeLeft) || !std::isfinite(rangeLeft) || !std::isfinite(rangeRight)) {
        rangeLeft = kKeyboardLeft;
        rangeRight = kKeyboardRight;
    }
    const Aim aim = aimOf(view);
    const float centreX = (rangeLeft + rangeRight) / 2.0f;
    const float half = (rangeRight - rangeLeft) / 2.0f;
    const glm::vec3 target(centreX, 0.15f, 0.0f);
    // Looking along `forward`: down by the pitch, turned by the yaw.
    const glm::vec3 forward(-std::sin(aim.yaw) * std::cos(aim.pitch), -std::sin(aim.pitch),
                            -std::cos(aim.yaw) * std::cos(aim.pitch));
    const glm::vec3 worldUp(0.0f, 1.0f, 0.0f);

    // Distance: the front corners of the framed stretch (the widest part seen from in front)
    // land kFrameShare of the way to the picture's sides. Found by bisection on the distance,
    // since the depth of each corner depends on it.
    const float aspect = static_cast<float>(camera.width) / static_cast<float>(camera.height);
    const float slopeX = kHalfWidthSlope;
    auto widest = [&](float distance) {
        const glm::vec3 eye = target - forward * distance;
        const glm::mat4 look = glm::lookAt(eye, target, worldUp);
        float most = 0.0f;
        for (float x : {rangeLeft, rangeRight}) {
            for (float z : {kBackZ, kFrontZ}) {
                const glm::vec4 p = look * glm::vec4(x, 0.15f, z, 1.0f);
                if (p.z < -1e-4f) {
                    most =
                        std::max(most, std::fabs(p.x - (look * glm::vec4(target, 1.0f)).x) / -p.z);
                }
            }
        }
        return most;
    };
    float nearD = half * 0.2f;
    float farD = half * 40.0f + 40.0f;
    for (int i = 0; i < 60; ++i) {
        const float mid = (nearD + farD) / 2.0f;
        if (widest(mid) > slopeX * kFrameShare) {
            nearD = mid;
        } else {
            farD = mid;
        }
    }
    const glm::vec3 eye = target - forward * farD;
    camera.view = glm::lookAt(eye, target, worldUp);

    // Horizontally the frustum is centred on the stretch; vertically it is shifted so that the
    // room in front of the keys ends at the bottom edge, and all above is the lane's.
    const glm::vec4 targetEye = camera.view * glm::vec4(target, 1.0f);
    const float shiftX = targetEye.x / -targetEye.z;
    float lowest = 1e9f;
    for (float x : {rangeLeft, centreX, rangeRight}) {
        for (glm::vec3 p : {glm::vec3(x, kFrontDrop, kFrontReach),
                            glm::vec3(x, kFrontDrop, kFrontZ), glm::vec3(x, kBackTop, kBackZ)}) {
            const glm::vec4 q = camera.view * glm::vec4(p, 1.0f);
            if (q.z < -1e-4f) {
                lowest = std::min(lowest, q.y / -q.z);
            }
        }
    }
    const float slopeY = slopeX / aspect;
    const float bottom = lowest;
    const float top = bottom + 2.0f * slopeY;
    camera.projection = glm::frustum((shiftX - slopeX) * kNear, (shiftX + slopeX) * kNear,
                                     bottom * kNear, top * kNear, kNear, kFar);
    return camera;
}

bool projectLook(const LookCamera& camera, glm::vec3 point, double* column, double* row) {
    const glm::vec4 clip = camera.projection * camera.view * glm::vec4(point, 1.0f);
    if (!(clip.w > 0.0f)) {
        return false;
    }
    const double x = clip.x / clip.w;
    const double y = clip.y / clip.w;
    *column = (x + 1.0) / 2.0 * camera.width;
    *row = (1.0 - y) / 2.0 * camera.height;
    return true;
}

LookCamera turnLookCamera(const LookCamera& camera, LookTurn turn) {
    if (turn.yaw == 0.0f && turn.tilt == 0.0f) {
        return camera;
    }
    // Turning the eye one way about the middle turns the scene the other way before the view.
    const glm::vec3 middle(0.0f, 0.15f, 0.0f);
    glm::mat4 scene = glm::translate(glm::mat4(1.0f), middle);
    scene = glm::rotate(scene, glm::radians(turn.tilt), glm::vec3(1.0f, 0.0f, 0.0f));
    scene = glm::rotate(scene, glm::radians(-turn.yaw), glm::vec3(0.0f, 1.0f, 0.0f));
    scene = glm::translate(scene, -middle);
    LookCamera turned = camera;
    turned.view = camera.view * scene;
    return turned;
}

void dragLookTurn(LookTurn* turn, int dx, int dy) {
    constexpr float kDegreesPerPixel = 0.15f;
    turn->yaw =
        std::clamp(turn->yaw + kDegreesPerPixel * static_cast<float>(dx), -kMostYaw, kMostYaw);
    turn->tilt = std::clamp(turn->tilt - kDegreesPerPixel * static_cast<float>(dy), kLowestTilt,
                            kHighestTilt);
}
