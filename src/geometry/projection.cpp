#include "geometry/projection.h"

namespace {
constexpr double kFieldOfView = 60.0;
constexpr double kNearPlane = 0.5;
constexpr double kFarPlane = 15.0;
}  // namespace

bool projectionFor(int width, int height, Projection* projection) {
    if (width <= 0 || height <= 0) {
        return false;
    }
    projection->fieldOfView = kFieldOfView;
    projection->aspect = static_cast<double>(width) / static_cast<double>(height);
    projection->nearPlane = kNearPlane;
    projection->farPlane = kFarPlane;
    return true;
}
