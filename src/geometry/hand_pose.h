#pragma once

#include <glm/glm.hpp>
#include <vector>

// Jointed hands for the new look: an adult hand's bones with their joint limits, the palm placed
// so that every playing finger reaches its key, inverse kinematics that puts each playing
// fingertip on its key, and motion between positions that uses the time the music leaves.
// Pure: poses are a function of the notes and the time alone.
//
// Scene frame as the keyboard's: x along the keys, y up, z towards the player; one scene unit
// is 74.6 mm (a white key is 0.315 wide, 23.5 mm).
//
// Sections: the notes a hand plays; the model (bones, limits); poses; the motion's bound.

// ---- The notes one hand plays ----

struct HandNote {
    int finger;  // 0 thumb .. 4 little
    int key;     // 0..87
    double onset;
    double keyUp;
};

// ---- The model ----

// Joints of a finger, from the knuckle out. The thumb's are its base (at the wrist), its
// knuckle and its one joint between its two phalanges.
constexpr int kFingerJoints = 3;

// Bending limits, degrees: flexion positive; a finger never bends backwards past the first
// small angle a relaxed knuckle allows.
struct JointLimit {
    float low;
    float high;
};
extern const JointLimit kFingerLimits[kFingerJoints];  // knuckle, middle, end joint
extern const JointLimit kThumbLimits[kFingerJoints];

// Bone lengths, scene units, per finger (0 thumb .. 4 little), from the knuckle out (the thumb's
// first is its metacarpal).
extern const float kBoneLength[5][3];

// ---- Poses ----

struct FingerPose {
    glm::vec3 joint[4];          // knuckle (thumb: its base), two joints, fingertip
    float angle[kFingerJoints];  // flexion at each joint, degrees
    bool playing;                // holding a key down
    int key;                     // that key, or -1
};

struct HandPose {
    int hand;             // 0 right, 1 left
    glm::vec3 palm;       // centre of the palm's underside
    glm::vec3 wrist;      // centre of the wrist
    glm::vec3 elbowward;  // a point along the forearm, out of the picture
    float palmWidth;      // across the knuckles
    FingerPose fingers[5];
};

// Fingertip radius, scene units: the pad that touches the key.
constexpr float kTipRadius = 0.085f;

// The hand's notes (any order) turned into its motion; `hand` 0 right, 1 left.
struct HandMotion {
    int hand = 0;
    std::vector<HandNote> notes;  // sorted by onset
    struct Anchor {
        double start;   // first onset of the group
        double leave;   // when the hand may start towards the next anchor
        double arrive;  // when it must be there: the next group's onset
        float x;        // palm centre along the keyboard
        float depth;    // palm centre's z
    };
    std::vector<Anchor> anchors;  // one per hand position: notes reached from one palm place
    // When each note's finger lets go of its key: its key-up, or earlier when the palm must
    // leave for a position the key is out of reach from before the key comes up.
    std::vector<double> letGo;
    float idleX = 0.0f;  // where the palm waits when the hand has nothing to play
    // The give of the free fingers while the palm travels, planned over each stretch of travel
    // and smoothed in time so that it never moves a fingertip faster than a bound: sampled
    // every `step` seconds from `start`, five offsets (one a finger) a sample.
    struct TravelGive {
        double start = 0.0;
        double step = 0.0;
        std::vector<glm::vec3> offsets;
    };
    std::vector<TravelGive> travelGive;  // in time order, not overlapping
};

HandMotion planHandMotion(int hand, std::vector<HandNote> notes);

// A hand with nothing to play rests out of the other hand's way: beyond the furthest the other
// hand's palm goes towards it, by two hands' width, and never nearer the middle than its usual
// place at the side.
void restIdleHands(HandMotion* right, HandMotion* left);

// The pose at `seconds`.
HandPose handPoseAt(const HandMotion& motion, double seconds);

// ---- The motion's bound ----

// The fastest a fingertip travels between positions: 3 m/s, the upper end of what pianists do
// in leaps (about 40 scene units a second).
constexpr double kFastestTip = 3000.0 / 74.6;
// A finger goes down onto its key (and comes up from it) over this long; the palm arrives at a
// new position this long before the note there starts, when the music leaves the time.
constexpr double kStrike = 0.09;
// The least time a move between positions takes, however short.
constexpr double kShortestMove = 0.06;

// The time a move of the palm over `distance` scene units (along plus across the keys) needs so
// that no fingertip exceeds kFastestTip: a smooth step peaks at 1.5 times its mean speed, an
// arc over a leap lengthens the path, and the fingers' own strokes ride on top of the palm's.
double moveTime(double distance);

// The key's top centre line: x of key `key`, its top's height and the z a fingertip plays at.
glm::vec3 fingerKeyTarget(int key);
// Height of a key's top surface at rest.
float keyTopHeight(int key);
// How far a held key's top sinks at depth z (it turns about its hinge).
float keyPressDrop(float z);
