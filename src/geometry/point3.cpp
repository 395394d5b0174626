#include "geometry/point3.h"

#include <cmath>

float length(Point3 p) {
    return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
}
