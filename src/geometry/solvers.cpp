#include "geometry/solvers.h"

#include <cmath>

namespace {
// Pi as the angle conversions use it.
constexpr double kPi = 3.141592654;
// Inner angle of a finger's second joint, held fixed so that only a two-link problem remains.
constexpr float kSecondJointAngle = 150.0f;
// Rotation that lays a digit's first segment from the frame's up axis into the palm plane.
constexpr float kQuarterTurn = 90.0f;
constexpr float kHalfTurn = 180.0f;

// Arc cosine in degrees. Rounding, or a target the digit cannot reach, can put the law of
// cosines' quotient outside [-1, 1]; it is clamped there, which gives the straight or the fully
// folded pose instead of a NaN that would poison the modelview matrix for the rest of the frame.
// A quotient of 0/0 (a triangle with a side of zero length) counts as 1.
float acosDegrees(float argument) {
    if (std::isnan(argument)) {
        argument = 1.0f;
    }
    if (argument < -1.0f) {
        argument = -1.0f;
    }
    if (argument > 1.0f) {
        argument = 1.0f;
    }
    return toDegrees(std::acos(argument));
}

// atan(J / I) in degrees. J / I is +-infinity for I = 0 and gives +-90; a target straight under
// the base (I = J = 0) has no direction at all and is treated as lying straight ahead (90).
float directionDegrees(float J, float I) {
    if (I == 0.0f && J == 0.0f) {
        return kQuarterTurn;
    }
    const float quotient = J / I;
    return toDegrees(std::atan(quotient));
}

// Angle between the line to the target (length P) and the palm plane (its projection Q), from
// the law of cosines on the drop; a target straight below (Q = 0) stands at 90 degrees, and one
// at the base itself (P = 0) at 0.
float dropDegrees(float dropSquared, float P, float Q) {
    if (Q == 0.0f) {
        return P == 0.0f ? 0.0f : kQuarterTurn;
    }
    const float argument = (dropSquared - P * P - Q * Q) / (-2 * P * Q);
    return acosDegrees(argument);
}
}  // namespace

float toRadians(float degrees) {
    return static_cast<float>(degrees * kPi / 180);
}

float toDegrees(float radians) {
    return static_cast<float>(radians * 180 / kPi);
}

FingerAngles solveFinger(const FingerParams& params) {
    FingerAngles a{};
    const float l1 = params.length1;
    const float l2 = params.length2;
    const float l3 = params.length3;
    const float tx = params.targetX;
    const float tz = params.targetZ;

    const float secondJointCos = std::cos(toRadians(kSecondJointAngle));
    const float C = std::sqrt(l2 * l2 + l3 * l3 - secondJointCos * 2 * l2 * l3);
    a.tipLink = C;

    const float baseAngle = toRadians(params.baseAngle);
    const float bx = params.baseDistance * std::cos(baseAngle);
    const float by = params.baseDistance * std::sin(baseAngle);

    float ty = params.targetY;
    // Depth limit, side test and distances; run again after a reach correction.
    auto locate = [&]() {
        if (ty + params.depthOffset < params.depthLimit) {
            ty = params.depthLimit - params.depthOffset;
        }
        a.J = ty - by;
        if (bx <= tx) {
            a.I = tx - bx;
            a.flipped = false;
        } else {
            a.I = bx - tx;
            a.flipped = true;
        }
        a.L = directionDegrees(a.J, a.I);
        a.P = std::sqrt(tz * tz + a.I * a.I + a.J * a.J);
    };
    locate();
    if (l1 + C < a.P) {
        ty = std::sqrt((C + l1) * (C + l1) + tx * tx + tz * tz);
        a.corrected = true;
        locate();
    }
    a.targetY = ty;

    const float P = a.P;
    a.W = acosDegrees((l3 * l3 - l2 * l2 - C * C) / (-2 * l2 * C));
    a.Kc = acosDegrees((P * P - l1 * l1 - C * C) / (-2 * l1 * C));
    a.Kb = acosDegrees((C * C - l1 * l1 - P * P) / (-2 * l1 * P));
    a.Q = std::sqrt(a.I * a.I + a.J * a.J);
    a.E = dropDegrees(tz * tz, P, a.Q);

    a.heading = a.flipped ? kHalfTurn - params.baseAngle - a.L : -(params.baseAngle - a.L);
    a.lift = -(a.E - a.Kb) - kQuarterTurn;
    a.bend1 = -(kHalfTurn - a.Kc - a.W);
    a.bend2 = -(kHalfTurn - kSecondJointAngle);
    return a;
}

ThumbAngles solveThumb(const ThumbParams& params) {
    ThumbAngles a{};
    const float l1 = params.length1;
    const float l2 = params.length2;
    const float tx = params.targetX;
    const float tz = params.targetZ;

    a.M = tz + params.bz;
    const float M = a.M;

    float ty = params.targetY;
    if (ty + params.depthOffset < params.depthLimit) {
        ty = params.depthLimit - params.depthOffset;
    }
    // Side test and distances; run again after a reach correction (without the depth limit).
    auto locate = [&]() {
        a.J = ty - params.by;
        if (tx >= params.bx) {
            a.I = tx - params.bx;
            a.flipped = false;
        } else {
            a.I = params.bx - tx;
            a.flipped = true;
        }
        a.L = directionDegrees(a.J, a.I);
        a.P = std::sqrt(M * M + a.I * a.I + a.J * a.J);
    };
    locate();
    if (l2 + l1 < a.P) {
        ty = std::sqrt((l2 + l1) * (l2 + l1) + tx * tx + tz * tz);
        a.corrected = true;
        locate();
    }
    a.targetY = ty;

    const float P = a.P;
    a.heading = a.flipped ? -(kQuarterTurn - a.L) : kQuarterTurn - a.L;
    a.Q = std::sqrt(a.I * a.I + a.J * a.J);
    a.E = dropDegrees(M * M, P, a.Q);
    a.Ka = acosDegrees((l2 * l2 - l1 * l1 - P * P) / (-2 * P * l1));
    a.U = kHalfTurn - acosDegrees((P * P - l2 * l2 - l1 * l1) / (-2 * l2 * l1));

    a.tilt = -a.E;
    a.roll = -kQuarterTurn;
    a.swing = params.side == RightSide ? a.Ka : -a.Ka;
    a.jointBend = params.side == RightSide ? -a.U : a.U;
    return a;
}
