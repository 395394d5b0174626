#include "geometry/hand_model.h"

#include <cmath>

#include "geometry/key_layout.h"

namespace {
// Where the solver takes a finger base to be, from the palm centre. The drawn base sits a
// little further out (0.5 * handScale); the fingertip lands that much beyond its target.
constexpr float kSolverBaseDistance = 0.5f;

float f(double value) {
    return static_cast<float>(value);
}

FingerSize fingerSize(double l1, double l2, double l3, double r1, double r2, double tip,
                      double blackBound) {
    return FingerSize{f(l1), f(l2), f(l3), f(r1), f(r2), f(tip), f(blackBound)};
}

// The slot's key in the current tick, or kNoKey; keys off the keyboard count as no key.
int32_t currentKey(const HandMirror& mirror, int slot) {
    const NoteEvent* event = currentEvent(mirror);
    if (event == nullptr || slot < 0 || slot >= kSlotCount) {
        return kNoKey;
    }
    const int32_t key = event->slot[slot].key;
    return (key >= 0 && key < kKeyCount) ? key : kNoKey;
}
}  // namespace

const HandMirror rightMirror = {&rightNotes,
                                &rightPlan,
                                &rightHand,
                                1.0f,
                                -30.0f,
                                RightSide,
                                {0.0f, 120.0f, 90.0f, 60.0f, 30.0f}};
const HandMirror leftMirror = {
    &leftNotes, &leftPlan, &leftHand, -1.0f, 30.0f, LeftSide, {0.0f, 60.0f, 90.0f, 120.0f, 150.0f}};

HandDimensions computeHandDimensions() {
    const double s = handScale;
    const double k = digitLengthScale;
    HandDimensions d{};
    d.palmRadius = f(0.65 * s);
    d.palmSlices = static_cast<int>(15 * s);
    d.palmHeightScale = 0.4f;
    d.thenarCentre = {f(-0.37 * s), 0.0f, f(-0.035 * s)};
    d.thenarRadius = f(0.4 * s);
    d.thenarHeightScale = 0.5f;
    const float sin60 = std::sin(toRadians(60.0f));
    const float sin20 = std::sin(toRadians(20.0f));
    d.thumbBase = {f((-0.37 - 0.25 * sin60) * s), f(0.25 * sin20 * s), f(-0.16 * s)};
    d.thumbLength1 = f(0.33 * s * k);
    d.thumbLength2 = f(0.3 * s * k);
    d.thumbRootRadius = f(0.14 * s);
    d.thumbRadius1 = f(0.125 * s * k);
    d.thumbTipRadius = f(0.105 * s * k);
    d.thumbBlackBound = f(kBlackKeyBound);
    d.fingerBaseDistance = f(0.5 * s);
    d.solverBaseDistance = kSolverBaseDistance;
    d.fingerRootRadius = f(0.15 * s);
    d.fingers[0] = FingerSize{};
    // The index finger's last segment is shorter: it does not get the digit length factor.
    d.fingers[1] = fingerSize(0.35 * s * k, 0.25 * s * k, 0.24 * s, 0.13 * s, 0.11 * s, 0.09 * s,
                              kBlackKeyBound);
    d.fingers[2] = fingerSize(0.35 * s * k, 0.25 * s * k, 0.24 * s * k, 0.13 * s, 0.11 * s,
                              0.09 * s, kBlackKeyBound);
    d.fingers[3] = d.fingers[2];
    d.fingers[4] = fingerSize(0.28 * s * k, 0.25 * s * k, 0.23 * s * k, 0.11 * s, 0.09 * s,
                              0.07 * s, kLittleBlackKeyBound);
    return d;
}

const NoteEvent* currentEvent(const HandMirror& mirror) {
    const std::vector<NoteEvent>& notes = *mirror.notes;
    if (currentTick < 0 || static_cast<size_t>(currentTick) >= notes.size()) {
        return nullptr;
    }
    return &notes[currentTick];
}

void aimHand(const HandMirror& mirror) {
    if (currentEvent(mirror) == nullptr) {
        return;
    }
    HandState& hand = *mirror.hand;
    // An empty plan (nothing planned yet) leaves the hand where it is.
    if (currentTick == 0 && !mirror.plan->empty()) {
        hand.position.x = (*mirror.plan)[0];
    }
    for (int k = 0; k < kSlotCount; ++k) {
        const int32_t key = currentKey(mirror, k);
        if (key != kNoKey) {
            hand.fingers[k].x = KeyLayout[key].x - hand.position.x;
        }
    }
}

float depthLimitFor(const HandMirror& mirror, int slot, float depthOffset, float blackBound) {
    float limit = depthOffset;
    const int32_t key = currentKey(mirror, slot);
    if (key == kNoKey) {
        return limit;
    }
    const float black = KeyLayout[key].black;
    if (black == 1.0f && limit < blackBound) {
        limit = blackBound;
    } else if (black == 0.0f && limit < kWhiteKeyBound) {
        limit = f(kWhiteKeyBound);
    }
    return limit;
}

ThumbParams thumbParams(const HandMirror& mirror, const HandDimensions& dims) {
    const HandState& hand = *mirror.hand;
    ThumbParams p{};
    p.bx = dims.thumbBase.x * mirror.mirrorX;
    p.by = dims.thumbBase.y;
    p.bz = dims.thumbBase.z;
    p.length1 = dims.thumbLength1;
    p.length2 = dims.thumbLength2;
    p.rootRadius = dims.thumbRootRadius;
    p.radius1 = dims.thumbRadius1;
    p.tipRadius = dims.thumbTipRadius;
    p.targetX = hand.fingers[0].x;
    p.targetY = hand.fingers[0].y;
    p.targetZ = hand.fingers[0].z;
    p.depthOffset = p.by - hand.position.y;
    p.depthLimit = depthLimitFor(mirror, 0, p.depthOffset, dims.thumbBlackBound);
    p.side = mirror.side;
    return p;
}

FingerParams fingerParams(const HandMirror& mirror, const HandDimensions& dims, int finger) {
    const HandState& hand = *mirror.hand;
    const FingerSize& size = dims.fingers[finger];
    const float angle = mirror.baseAngles[finger];
    FingerParams p{};
    p.rootRadius = dims.fingerRootRadius;
    p.length1 = size.length1;
    p.length2 = size.length2;
    p.length3 = size.length3;
    p.radius1 = size.radius1;
    p.radius2 = size.radius2;
    p.tipRadius = size.tipRadius;
    p.targetX = hand.fingers[finger].x;
    p.targetY = hand.fingers[finger].y;
    p.targetZ = hand.fingers[finger].z;
    // The base's own depth, as the solver places it, less the hand's depth.
    p.depthOffset = f(kSolverBaseDistance * std::sin(toRadians(angle)) - hand.position.y);
    p.depthLimit = depthLimitFor(mirror, finger, p.depthOffset, size.blackBound);
    p.baseDistance = dims.solverBaseDistance;
    p.baseAngle = angle;
    return p;
}
