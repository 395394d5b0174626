#pragma once

// Inverse kinematics of one digit, without any drawing. The solvers take the digit's sizes and
// its fingertip target and return every angle the drawing needs; the drawing (fingers_gl.h)
// only turns those angles into rotations and solids. All arithmetic is single precision, every
// intermediate stored as a float.

// Degrees to radians, with pi taken as 3.141592654.
float toRadians(float degrees);
// Radians to degrees, with pi taken as 3.141592654.
float toDegrees(float radians);

// A three-segment finger (index, middle, ring, little) and its target, in the palm frame.
struct FingerParams {
    float rootRadius;    // radius of segment 1 at the finger base
    float length1;       // proximal segment
    float length2;       // middle segment
    float length3;       // distal segment
    float radius1;       // radius at the first joint
    float radius2;       // radius at the second joint
    float tipRadius;     // radius at the tip
    float targetX;       // fingertip target x in the palm frame (along the keyboard)
    float targetY;       // fingertip target y (along the keys, towards the hinge)
    float targetZ;       // fingertip target height; only |targetZ| below the palm counts
    float depthOffset;   // added to targetY for the depth test
    float depthLimit;    // targetY + depthOffset is kept at or above this
    float baseDistance;  // distance of the finger base from the palm centre, as solved
    float baseAngle;     // direction of the finger base, degrees from the palm's +x axis
};

// Everything solveFinger works out. Angles in degrees.
struct FingerAngles {
    float tipLink;   // C: first joint to tip with the second joint at 150 degrees
    float targetY;   // targetY after the depth limit and the reach correction
    bool corrected;  // the target was beyond reach and targetY was replaced once
    bool flipped;    // the target lies on the low-x side of the base
    float I;         // |targetX - base x|
    float J;         // targetY - base y
    float L;         // atan(J / I): direction of the target in the palm plane
    float P;         // distance from the base to the target
    float Q;         // distance from the base to the target within the palm plane
    float W;         // angle at the first joint between segment 2 and the tip link
    float Kc;        // inner angle at the first joint between segment 1 and the tip link
    float Kb;        // angle at the base between segment 1 and the line to the target
    float E;         // angle between the line to the target and the palm plane
    float heading;   // rotation about z that turns the finger towards the target
    float lift;      // rotation about x that lays segment 1 out above the target line
    float bend1;     // rotation about x at the first joint
    float bend2;     // rotation about x at the second joint (the fixed 30-degree bend)
};

FingerAngles solveFinger(const FingerParams& params);

// Which hand a thumb belongs to: the two thumbs bend to opposite sides.
enum HandSide { RightSide = 0, LeftSide = 1 };

// The two-segment thumb and its target, in the palm frame.
struct ThumbParams {
    float bx;          // thumb base x in the palm frame
    float by;          // thumb base y
    float bz;          // thumb base z
    float length1;     // first segment
    float length2;     // second segment
    float rootRadius;  // radius at the base
    float radius1;     // radius at the joint
    float tipRadius;   // radius at the tip
    float targetX;     // thumb tip target x in the palm frame
    float targetY;     // thumb tip target y
    float targetZ;     // thumb tip target height; enters as (targetZ + bz) squared
    float depthOffset;
    float depthLimit;
    HandSide side;
};

// Everything solveThumb works out. Angles in degrees.
struct ThumbAngles {
    float M;         // targetZ + bz: the target's drop below the base, by its square
    float targetY;   // targetY after the depth limit and the reach correction
    bool corrected;  // the target was beyond reach and targetY was replaced once
    bool flipped;    // the target lies on the low-x side of the base
    float I;
    float J;
    float L;
    float P;
    float Q;
    float E;
    float Ka;         // angle at the base between segment 1 and the line to the target
    float U;          // bend at the thumb joint
    float heading;    // rotation about the down axis (y)
    float tilt;       // rotation about x: the z axis down onto the target line
    float roll;       // rotation about z, so that the following bends act sideways
    float swing;      // rotation about x: segment 1 off the target line
    float jointBend;  // rotation about x at the joint
};

ThumbAngles solveThumb(const ThumbParams& params);
