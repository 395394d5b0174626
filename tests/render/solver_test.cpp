#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "geometry/hand_model.h"
#include "geometry/solvers.h"

namespace {

// A 4x4 transform that composes like the GL matrix stack: each call multiplies on the right.
struct Mat4 {
    double m[4][4];  // m[row][column]

    static Mat4 identity() {
        Mat4 r{};
        for (int i = 0; i < 4; ++i) {
            r.m[i][i] = 1;
        }
        return r;
    }
    Mat4 times(const Mat4& b) const {
        Mat4 r{};
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                for (int k = 0; k < 4; ++k) {
                    r.m[i][j] += m[i][k] * b.m[k][j];
                }
            }
        }
        return r;
    }
    // glTranslatef
    Mat4& translate(double x, double y, double z) {
        Mat4 t = identity();
        t.m[0][3] = x;
        t.m[1][3] = y;
        t.m[2][3] = z;
        *this = times(t);
        return *this;
    }
    // glRotatef about one of the coordinate axes (0 = x, 1 = y, 2 = z).
    Mat4& rotate(double degrees, int axis) {
        const double r = degrees * M_PI / 180;
        const double c = std::cos(r);
        const double s = std::sin(r);
        const int a = (axis + 1) % 3;
        const int b = (axis + 2) % 3;
        Mat4 t = identity();
        t.m[a][a] = c;
        t.m[a][b] = -s;
        t.m[b][a] = s;
        t.m[b][b] = c;
        *this = times(t);
        return *this;
    }
    // Where the frame's origin lies.
    void origin(double out[3]) const {
        for (int i = 0; i < 3; ++i) {
            out[i] = m[i][3];
        }
    }
};

// A finger of the right hand's middle-finger size, base at 0.5 straight ahead.
FingerParams middleFinger(float tx, float ty, float tz) {
    FingerParams p{};
    p.rootRadius = 0.165f;
    p.length1 = 0.462f;
    p.length2 = 0.33f;
    p.length3 = 0.3168f;
    p.radius1 = 0.143f;
    p.radius2 = 0.121f;
    p.tipRadius = 0.099f;
    p.targetX = tx;
    p.targetY = ty;
    p.targetZ = tz;
    p.depthOffset = 0.0f;
    p.depthLimit = -100.0f;
    p.baseDistance = 0.5f;
    p.baseAngle = 90.0f;
    return p;
}

// The right thumb's base and segments, no depth limit, target unset.
ThumbParams rightThumb() {
    ThumbParams t{};
    t.bx = -0.645157f;
    t.by = 0.0940555f;
    t.bz = -0.176f;
    t.length1 = 0.4356f;
    t.length2 = 0.396f;
    t.depthLimit = -100.0f;
    return t;
}

bool allFinite(const FingerAngles& a) {
    const float values[] = {a.tipLink, a.targetY, a.I, a.J,       a.L,    a.P,     a.Q,    a.W,
                            a.Kc,      a.Kb,      a.E, a.heading, a.lift, a.bend1, a.bend2};
    for (float v : values) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return true;
}

bool allFinite(const ThumbAngles& a) {
    const float values[] = {a.M,  a.targetY, a.I,       a.J,    a.L,    a.P,     a.Q,        a.E,
                            a.Ka, a.U,       a.heading, a.tilt, a.roll, a.swing, a.jointBend};
    for (float v : values) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return true;
}

// Tip of a finger drawn with base frame rotate(a - 90 about z), translate(0, baseDistance, 0).
void fingerTip(const FingerParams& p, double drawnBaseDistance, double tip[3]) {
    const FingerAngles a = solveFinger(p);
    Mat4 m = Mat4::identity();
    m.rotate(p.baseAngle - 90, 2).translate(0, drawnBaseDistance, 0);
    m.rotate(a.heading, 2).rotate(a.lift, 0).translate(0, 0, p.length1);
    m.rotate(a.bend1, 0).translate(0, 0, p.length2);
    m.rotate(a.bend2, 0).translate(0, 0, p.length3);
    m.origin(tip);
}

// Tip of a thumb drawn in its base frame: translate to the base, -90 degrees about x.
void thumbTip(const ThumbParams& p, double tip[3]) {
    const ThumbAngles a = solveThumb(p);
    Mat4 m = Mat4::identity();
    m.translate(p.bx, p.by, p.bz).rotate(-90, 0);
    m.rotate(a.heading, 1).rotate(a.tilt, 0).rotate(a.roll, 2).rotate(a.swing, 0);
    m.translate(0, 0, p.length1).rotate(a.jointBend, 0).translate(0, 0, p.length2);
    m.origin(tip);
}

}  // namespace

TEST(Solver, AngleConversionsUseTheGivenPi) {
    EXPECT_FLOAT_EQ(toRadians(180.0f), 3.141592654f);
    EXPECT_FLOAT_EQ(toDegrees(3.141592654f), 180.0f);
    EXPECT_FLOAT_EQ(toDegrees(toRadians(37.5f)), 37.5f);
}

TEST(Solver, TipLinkAndReachOfAFinger) {
    const FingerAngles a = solveFinger(middleFinger(0.0f, 1.0f, 0.3f));
    EXPECT_NEAR(a.tipLink, 0.624770f, 1e-6);
    EXPECT_NEAR(0.462f + a.tipLink, 1.086770f, 1e-6);
}

TEST(Solver, DepthLimitRaisesTheTargetBeforeAnythingElse) {
    FingerParams p = middleFinger(0.2f, 0.1f, 0.3f);
    p.depthOffset = -0.466987f;
    p.depthLimit = -0.10625f;
    const FingerAngles a = solveFinger(p);
    EXPECT_EQ(a.targetY, p.depthLimit - p.depthOffset);
    EXPECT_FLOAT_EQ(a.J, (p.depthLimit - p.depthOffset) - 0.5f);

    // A target already deep enough is left alone.
    p.targetY = 0.9f;
    EXPECT_EQ(solveFinger(p).targetY, 0.9f);

    // The thumb applies the same rule.
    ThumbParams t = rightThumb();
    t.targetX = -0.8f;
    t.targetY = 0.1f;
    t.targetZ = 0.3f;
    t.depthOffset = -0.8059445f;
    t.depthLimit = -0.10625f;
    EXPECT_EQ(solveThumb(t).targetY, t.depthLimit - t.depthOffset);
}

TEST(Solver, ReachCorrectionStartsJustBeyondTheReach) {
    // Base at the palm centre, target straight ahead in the palm plane: P is targetY exactly.
    FingerParams p = middleFinger(0.0f, 0.0f, 0.0f);
    p.baseDistance = 0.0f;
    const float reach = p.length1 + solveFinger(p).tipLink;

    p.targetY = reach;
    FingerAngles atReach = solveFinger(p);
    EXPECT_FALSE(atReach.corrected);
    EXPECT_EQ(atReach.targetY, reach);
    EXPECT_EQ(atReach.P, reach);

    p.targetY = std::nextafter(reach, 2.0f);
    EXPECT_TRUE(solveFinger(p).corrected);

    // Beyond reach, targetY becomes sqrt((C + length1)^2 + tx^2 + tz^2) and everything follows it.
    FingerParams far = middleFinger(0.4f, 1.6f, 0.3f);
    const FingerAngles a = solveFinger(far);
    const float C = a.tipLink;
    const float expected = std::sqrt((C + far.length1) * (C + far.length1) +
                                     far.targetX * far.targetX + far.targetZ * far.targetZ);
    EXPECT_TRUE(a.corrected);
    EXPECT_FLOAT_EQ(a.targetY, expected);
    EXPECT_FLOAT_EQ(a.J, expected - 0.5f);

    // The thumb's correction uses the sum of its two segments and no second depth limit.
    ThumbParams t = rightThumb();
    t.targetX = -0.5f;
    t.targetY = 1.5f;
    t.targetZ = 0.3f;
    t.depthLimit = -100.0f;
    const ThumbAngles ta = solveThumb(t);
    const float reachT = t.length2 + t.length1;
    EXPECT_TRUE(ta.corrected);
    EXPECT_FLOAT_EQ(ta.targetY,
                    std::sqrt(reachT * reachT + t.targetX * t.targetX + t.targetZ * t.targetZ));
}

TEST(Solver, HeadingFollowsTheSideOfTheTarget) {
    // Right of the base: not flipped, heading -(a - L).
    FingerAngles right = solveFinger(middleFinger(0.5f, 1.0f, 0.3f));
    EXPECT_FALSE(right.flipped);
    EXPECT_NEAR(right.L, std::atan(0.5 / 0.5) * 180 / M_PI, 1e-4);
    EXPECT_FLOAT_EQ(right.heading, -(90.0f - right.L));

    // Left of the base: flipped, heading 180 - a - L.
    FingerAngles left = solveFinger(middleFinger(-0.5f, 1.0f, 0.3f));
    EXPECT_TRUE(left.flipped);
    EXPECT_FLOAT_EQ(left.heading, 180.0f - 90.0f - left.L);
    // Mirror targets give mirror headings.
    EXPECT_NEAR(left.heading, -right.heading, 1e-4);

    // In line with the base: J / I is infinite and L is 90, or -90 behind the base. With the
    // base at the palm centre the side test sees I = 0 exactly.
    FingerParams inLine = middleFinger(0.0f, 1.0f, 0.3f);
    inLine.baseDistance = 0.0f;
    const FingerAngles ahead = solveFinger(inLine);
    EXPECT_FALSE(ahead.flipped);
    EXPECT_EQ(ahead.I, 0.0f);
    EXPECT_EQ(ahead.L, 90.0f);
    EXPECT_EQ(ahead.heading, 0.0f);
    inLine.targetY = -1.0f;
    EXPECT_EQ(solveFinger(inLine).L, -90.0f);
    // With the base at 0.5 straight ahead, cos 90 degrees is not quite 0 in single precision:
    // the heading is still 0 to within rounding.
    EXPECT_NEAR(solveFinger(middleFinger(0.0f, 1.0f, 0.3f)).heading, 0.0f, 1e-4);
}

TEST(Solver, SecondJointKeepsItsFixedBend) {
    for (float ty : {0.6f, 1.0f, 1.5f, 3.0f}) {
        const FingerAngles a = solveFinger(middleFinger(0.1f, ty, 0.05f));
        EXPECT_FLOAT_EQ(a.bend2, -30.0f) << ty;
    }
    // Far out of reach the first joint is straight, but the 30 degrees remain.
    const FingerAngles far = solveFinger(middleFinger(3.0f, 3.0f, 0.0f));
    EXPECT_EQ(far.Kc, 180.0f);
    EXPECT_FLOAT_EQ(far.bend2, -30.0f);
}

TEST(Solver, NoNaNForTargetsOutOfReachOrDegenerate) {
    const float nearBase[] = {0.0f, 1e-7f, 0.01f};
    // Straight below the base, at the base, far away in every direction, very close.
    const float targets[][3] = {
        {0.0f, 0.5f, 0.0f},   {0.0f, 0.5f, 0.3f},   {0.0f, 0.5f, 5.0f},  {8.0f, -3.0f, 0.3f},
        {-8.0f, 6.0f, -2.0f}, {0.0f, -10.0f, 0.0f}, {0.01f, 0.5f, 0.0f}, {0.3f, 0.52f, 0.1f},
    };
    for (const auto& t : targets) {
        const FingerAngles a = solveFinger(middleFinger(t[0], t[1], t[2]));
        EXPECT_TRUE(allFinite(a)) << t[0] << " " << t[1] << " " << t[2];
    }
    // Unreachable targets leave the finger straight at the first joint (Kc = 180, Kb = 0).
    const FingerAngles far = solveFinger(middleFinger(3.0f, 3.0f, 0.3f));
    EXPECT_FLOAT_EQ(far.Kc, 180.0f);
    EXPECT_FLOAT_EQ(far.Kb, 0.0f);
    // A target straight below the base (I = J = 0) stands at 90 degrees below the palm.
    FingerParams under = middleFinger(0.0f, 0.0f, 0.7f);
    under.baseDistance = 0.0f;
    const FingerAngles below = solveFinger(under);
    EXPECT_TRUE(allFinite(below));
    EXPECT_FLOAT_EQ(below.L, 90.0f);
    EXPECT_FLOAT_EQ(below.E, 90.0f);

    ThumbParams t = rightThumb();
    t.depthLimit = -100.0f;
    for (float d : nearBase) {
        for (float tz : {0.176f, 0.3f, 3.0f}) {
            t.targetX = t.bx + d;
            t.targetY = t.by + d;
            t.targetZ = tz;
            for (HandSide side : {RightSide, LeftSide}) {
                t.side = side;
                EXPECT_TRUE(allFinite(solveThumb(t))) << d << " " << tz;
            }
        }
    }
    t.targetX = 9.0f;
    t.targetY = -9.0f;
    EXPECT_TRUE(allFinite(solveThumb(t)));
}

// The solved angles, composed like the drawing composes them, put the fingertip on the target.
TEST(Solver, FingertipsReachTheirTargetsAcrossTheReachableRange) {
    const HandDimensions d = computeHandDimensions();
    const float drawnOffset = d.fingerBaseDistance - d.solverBaseDistance;
    int tried = 0;
    double worstOwn = 0;
    double worstDrawn = 0;
    for (const HandMirror* mirror : {&rightMirror, &leftMirror}) {
        for (int finger = 1; finger <= 4; ++finger) {
            const FingerSize& size = d.fingers[finger];
            const float angle = mirror->baseAngles[finger];
            for (int ix = -12; ix <= 12; ++ix) {
                for (int iy = -4; iy <= 16; ++iy) {
                    for (int iz = 0; iz <= 10; ++iz) {
                        FingerParams p = middleFinger(ix * 0.1f, iy * 0.1f, iz * 0.1f);
                        p.length1 = size.length1;
                        p.length2 = size.length2;
                        p.length3 = size.length3;
                        p.baseDistance = d.solverBaseDistance;
                        p.baseAngle = angle;
                        const FingerAngles a = solveFinger(p);
                        const float C = a.tipLink;
                        // Stay clear of the straight and folded limits and of the base's axis.
                        if (a.corrected || a.P > p.length1 + C - 0.02f ||
                            a.P < std::fabs(C - p.length1) + 0.02f || a.Q < 0.02f) {
                            continue;
                        }
                        ++tried;
                        const double target[3] = {p.targetX, a.targetY, -std::fabs(p.targetZ)};
                        const double rad = angle * M_PI / 180;
                        const double shift[3] = {drawnOffset * std::cos(rad),
                                                 drawnOffset * std::sin(rad), 0};
                        double own[3];
                        double drawn[3];
                        fingerTip(p, d.solverBaseDistance, own);
                        fingerTip(p, d.fingerBaseDistance, drawn);
                        for (int i = 0; i < 3; ++i) {
                            worstOwn = std::max(worstOwn, std::fabs(own[i] - target[i]));
                            worstDrawn =
                                std::max(worstDrawn, std::fabs(drawn[i] - target[i] - shift[i]));
                        }
                    }
                }
            }
        }
    }
    std::printf("fingertip checks %d, worst miss %.2e (solver frame), %.2e (drawn frame)\n", tried,
                worstOwn, worstDrawn);
    EXPECT_GT(tried, 2000);
    // In the solver's own frame the tip is on the target up to single-precision rounding.
    EXPECT_LT(worstOwn, 1e-4);
    // The drawn base sits 0.05 further out along the base direction; the whole finger, and with
    // it the tip, is shifted by exactly that.
    EXPECT_LT(worstDrawn, 1e-4);
}

TEST(Solver, ThumbTipsReachTheirTargetsAcrossTheReachableRange) {
    const HandDimensions d = computeHandDimensions();
    int tried = 0;
    double worst = 0;
    for (const HandMirror* mirror : {&rightMirror, &leftMirror}) {
        for (int ix = -12; ix <= 12; ++ix) {
            for (int iy = -6; iy <= 12; ++iy) {
                for (int iz = 0; iz <= 10; ++iz) {
                    ThumbParams p{};
                    p.bx = d.thumbBase.x * mirror->mirrorX;
                    p.by = d.thumbBase.y;
                    p.bz = d.thumbBase.z;
                    p.length1 = d.thumbLength1;
                    p.length2 = d.thumbLength2;
                    p.targetX = p.bx + ix * 0.07f;
                    p.targetY = iy * 0.07f;
                    p.targetZ = iz * 0.07f;
                    p.depthLimit = -100.0f;
                    p.side = mirror->side;
                    const ThumbAngles a = solveThumb(p);
                    if (a.corrected || a.P > p.length1 + p.length2 - 0.02f ||
                        a.P < std::fabs(p.length1 - p.length2) + 0.02f || a.Q < 0.02f) {
                        continue;
                    }
                    ++tried;
                    const double target[3] = {p.targetX, a.targetY, p.bz - std::fabs(a.M)};
                    double tip[3];
                    thumbTip(p, tip);
                    for (int i = 0; i < 3; ++i) {
                        worst = std::max(worst, std::fabs(tip[i] - target[i]));
                    }
                }
            }
        }
    }
    std::printf("thumb tip checks %d, worst miss %.2e\n", tried, worst);
    EXPECT_GT(tried, 500);
    EXPECT_LT(worst, 1e-4);
}
