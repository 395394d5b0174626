#include "geometry/player_view.h"

#include <algorithm>
#include <cmath>

#include "geometry/camera.h"
#include "geometry/projection.h"

double viewFarPlane = 15.0;

namespace {
constexpr double kPi = 3.141592654;

// What has to be in the picture, in scene coordinates: the 88 keys from the hinge to the front
// edge (a pressed key's front dips below the keyboard) and the room the hands take above and in
// front of them, wherever along the keyboard they play.
constexpr double kSceneLow[3] = {-8.6, -0.45, -0.9};
constexpr double kSceneHigh[3] = {8.3, 1.35, 1.75};

// Free border around the scene, as a share of the picture's half width and half height.
constexpr double kBorder = 0.04;

// The window's far plane: no view asks for less.
constexpr double kWindowFarPlane = 15.0;
// Room beyond the farthest corner, so that nothing there is clipped by rounding.
constexpr double kFarPlaneRoom = 1.0;

// Where the eye stands, as seen from the scene's centre: azimuth from +x towards +z (the
// player's side) and elevation above the keys' plane, radians.
struct Direction {
    double yaw;
    double pitch;
};

Direction directionOf(CameraView view) {
    switch (view) {
        case CameraView::Above:
            // As steep as the mouse camera goes: straight down would make the up vector
            // parallel to the line of sight.
            return {kPi / 2.0, kPi / 2.1};
        case CameraView::Side:
            return {0.35, 0.35};
        case CameraView::Player:
        default:
            return {kPi / 2.0, 0.7};
    }
}

struct Vec {
    double x, y, z;
};

Vec sub(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec unit(Vec a) {
    double n = std::sqrt(dot(a, a));
    return n > 0.0 ? Vec{a.x / n, a.y / n, a.z / n} : a;
}
Vec toVec(Point3 p) {
    return {p.x, p.y, p.z};
}
Point3 toPoint(Vec v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// The eye's frame as gluLookAt builds it: side (picture x), up (picture y), forward.
struct EyeFrame {
    Vec side, up, forward;
};

EyeFrame frameOf(Vec eye, Vec centre, Vec up) {
    EyeFrame frame;
    frame.forward = unit(sub(centre, eye));
    frame.side = unit(cross(frame.forward, up));
    frame.up = cross(frame.side, frame.forward);
    return frame;
}

// Tangent of half the vertical field of view of the window's perspective.
double halfHeightSlope() {
    Projection projection;
    projectionFor(1, 1, &projection);
    return std::tan(projection.fieldOfView * kPi / 360.0);
}
}  // namespace

bool cameraViewFromName(const std::string& name, CameraView* view) {
    if (name == "player") {
        *view = CameraView::Player;
    } else if (name == "above") {
        *view = CameraView::Above;
    } else if (name == "side") {
        *view = CameraView::Side;
    } else {
        return false;
    }
    return true;
}

void setPlayerView(CameraView view, double aspect) {
    if (!(aspect > 0.0) || !std::isfinite(aspect)) {
        aspect = 16.0 / 9.0;
    }
    const Direction direction = directionOf(view);
    const Vec toEye = {std::cos(direction.yaw) * std::cos(direction.pitch),
                       std::sin(direction.pitch),
                       std::sin(direction.yaw) * std::cos(direction.pitch)};
    const Vec centre = {(kSceneLow[0] + kSceneHigh[0]) / 2.0, (kSceneLow[1] + kSceneHigh[1]) / 2.0,
                        (kSceneLow[2] + kSceneHigh[2]) / 2.0};
    const Vec worldUp = {0.0, 1.0, 0.0};
    // The frame's axes do not depend on the distance, only on the direction.
    const EyeFrame frame = frameOf(toEye, Vec{0.0, 0.0, 0.0}, worldUp);

    // Each corner q (from the centre) at distance r sits at depth r - q.toEye in front of the
    // eye; it is inside the picture when its side and up offsets stay within the slopes times
    // that depth. The nearest eye that keeps all eight corners inside is the largest bound.
    const double slopeUp = halfHeightSlope() * (1.0 - kBorder);
    const double slopeSide = slopeUp * aspect;
    double distance = 0.0;
    Vec corners[8];
    for (int i = 0; i < 8; ++i) {
        corners[i] = {(i & 1) ? kSceneHigh[0] : kSceneLow[0],
                      (i & 2) ? kSceneHigh[1] : kSceneLow[1],
                      (i & 4) ? kSceneHigh[2] : kSceneLow[2]};
        const Vec q = sub(corners[i], centre);
        const double along = dot(q, toEye);
        distance = std::max(distance, along + std::fabs(dot(q, frame.side)) / slopeSide);
        distance = std::max(distance, along + std::fabs(dot(q, frame.up)) / slopeUp);
    }

    const Vec eye = {centre.x + toEye.x * distance, centre.y + toEye.y * distance,
                     centre.z + toEye.z * distance};
    double farthest = 0.0;
    for (const Vec& corner : corners) {
        farthest = std::max(farthest, dot(sub(corner, eye), frame.forward));
    }
    viewFarPlane = std::max(kWindowFarPlane, farthest + kFarPlaneRoom);

    cameraCenter = toPoint(centre);
    cameraEye = toPoint(eye);
    cameraUp = toPoint(worldUp);
    cameraDistance = static_cast<float>(distance);
    cameraPitch = static_cast<float>(direction.pitch);
    cameraYaw = static_cast<float>(direction.yaw);
}

bool projectToPixel(Point3 point, int width, int height, double* column, double* row) {
    if (width <= 0 || height <= 0) {
        return false;
    }
    const Vec eye = toVec(cameraEye);
    const EyeFrame frame = frameOf(eye, toVec(cameraCenter), toVec(cameraUp));
    const Vec q = sub(toVec(point), eye);
    const double depth = dot(q, frame.forward);
    if (!(depth > 0.0)) {
        return false;
    }
    const double slopeUp = halfHeightSlope();
    const double slopeSide = slopeUp * static_cast<double>(width) / static_cast<double>(height);
    const double x = dot(q, frame.side) / (depth * slopeSide);  // -1 left edge .. 1 right edge
    const double y = dot(q, frame.up) / (depth * slopeUp);      // -1 bottom .. 1 top
    *column = (x + 1.0) / 2.0 * width;
    *row = (1.0 - y) / 2.0 * height;
    return true;
}
