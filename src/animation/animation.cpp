#include "animation/animation.h"

#include <cstddef>

#include "animation/performance.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

std::vector<KeyState> keyStates;
int32_t tickPhase = 0;

namespace {
// How far a key travels in one press step, degrees.
constexpr double kPressStep = 2.5;
// A key at this angle or beyond is fully down and travels no further.
constexpr float kFullyPressed = 10.0f;
// Angle of a key half way back up, after the first release phase.
constexpr float kReleaseAngle = 0.5f;
// Angle of a key at rest.
constexpr float kRestAngle = 0.0f;
// Finger height below the palm while its key comes back up.
constexpr double kReleaseDropWhite = 0.15;
constexpr double kReleaseDropBlack = 0.375;
// Finger height below the palm at rest.
constexpr double kRestDrop = 0.45;
// The glide to the next tick is cut into thirds: two in phases 6 and 7, the landing in phase 0.
constexpr float kGlideDivisor = 3.0f;

// Phases of a tick.
constexpr int32_t kPressPhase = 0;
constexpr int32_t kFirstReleasePhase = 6;
constexpr int32_t kSecondReleasePhase = 7;

// Glide increments of one hand, computed in phase 6 and applied again in phase 7.
struct Glide {
    float handStep;       // increment of position.x
    float fingerStep[5];  // increments of fingers[k].x
};

Glide rightGlide;
Glide leftGlide;

// One hand as the step sees it: its grid, its plan, its pose and its glide.
struct Hand {
    const std::vector<NoteEvent>& notes;
    const HandPlan& plan;
    HandState& state;
    Glide& glide;
};

// A key that names a real key of the keyboard. Anything else in a slot (the empty -1, or a
// number a damaged grid might hold) is treated as no key.
bool isKey(int32_t key) {
    return key >= 0 && key < kKeyCount && static_cast<size_t>(key) < keyStates.size();
}

bool isBlack(int32_t key) {
    return KeyLayout[key].black != 0.0f;
}

// The record of tick t of a hand, or null when the grid has no such tick.
const NoteEvent* eventAt(const Hand& hand, int32_t t) {
    if (t < 0 || static_cast<size_t>(t) >= hand.notes.size()) {
        return nullptr;
    }
    return &hand.notes[t];
}

// Phase 0: land on the plan and strike the keys of the tick.
void press(Hand& hand, int32_t t) {
    HandState& s = hand.state;
    if (static_cast<size_t>(t) < hand.plan.size()) {
        s.position.x = hand.plan[t];
    }
    const NoteEvent* event = eventAt(hand, t);
    if (event == nullptr) {
        return;
    }
    for (int k = 0; k < kSlotCount; ++k) {
        int32_t key = event->slot[k].key;
        if (!isKey(key)) {
            continue;
        }
        KeyState& ks = keyStates[key];
        ks.paused = 0;
        if (ks.angle < kFullyPressed) {
            ks.angle = static_cast<float>(ks.angle + kPressStep);
        }
        double drop = isBlack(key) ? kPressDropBlack : kPressDropWhite;
        double level = s.position.z - drop;
        if (level > s.fingers[k].z) {
            s.fingers[k].z = static_cast<float>(level);
        }
    }
}

// The finger that rises with a travelling key: the first, right hand before left, whose slot
// in tick t holds the key.
Point3* fingerOnKey(Hand& right, Hand& left, int32_t t, int32_t key) {
    for (Hand* hand : {&right, &left}) {
        const NoteEvent* event = eventAt(*hand, t);
        if (event == nullptr) {
            continue;
        }
        for (int k = 0; k < kSlotCount; ++k) {
            if (event->slot[k].key == key) {
                return &hand->state.fingers[k];
            }
        }
    }
    return nullptr;
}

// Phases 1 to 5: every key on its way down moves one press step, and its finger follows.
void travel(Hand& right, Hand& left, int32_t t) {
    for (int32_t key = 0; key < kKeyCount && static_cast<size_t>(key) < keyStates.size(); ++key) {
        KeyState& ks = keyStates[key];
        if (ks.paused != 0 || !(ks.angle > 0.0f && ks.angle < kFullyPressed)) {
            continue;
        }
        ks.angle = static_cast<float>(ks.angle + kPressStep);
        Point3* finger = fingerOnKey(right, left, t, key);
        if (finger != nullptr) {
            finger->z = static_cast<float>(finger->z + kTravelRise);
        }
    }
}

// Phase 6, the glide's first third: the hand towards its plan for tick t + 1, and each finger
// that plays in tick t + 1 towards its key.
void startGlide(Hand& hand, int32_t next) {
    HandState& s = hand.state;
    Glide& g = hand.glide;
    // Without a plan for the next tick the hand holds still; its fingers still find their keys.
    g.handStep = 0.0f;
    if (static_cast<size_t>(next) < hand.plan.size()) {
        g.handStep = static_cast<float>((hand.plan[next] - static_cast<double>(s.position.x)) /
                                        kGlideDivisor);
    }
    s.position.x = static_cast<float>(s.position.x + static_cast<double>(g.handStep));
    const NoteEvent* event = eventAt(hand, next);
    for (int k = 0; k < kSlotCount; ++k) {
        g.fingerStep[k] = 0.0f;
        if (event == nullptr || !isKey(event->slot[k].key)) {
            continue;
        }
        double target = KeyLayout[event->slot[k].key].x;
        g.fingerStep[k] = static_cast<float>(
            (target - s.position.x - static_cast<double>(s.fingers[k].x)) / kGlideDivisor);
        s.fingers[k].x = static_cast<float>(s.fingers[k].x + static_cast<double>(g.fingerStep[k]));
    }
}

// Phase 7, the glide's second third, with the increments of phase 6.
void continueGlide(Hand& hand, int32_t next) {
    HandState& s = hand.state;
    const Glide& g = hand.glide;
    s.position.x = static_cast<float>(s.position.x + static_cast<double>(g.handStep));
    const NoteEvent* event = eventAt(hand, next);
    for (int k = 0; k < kSlotCount; ++k) {
        if (event == nullptr || !isKey(event->slot[k].key)) {
            continue;
        }
        s.fingers[k].x = static_cast<float>(s.fingers[k].x + static_cast<double>(g.fingerStep[k]));
    }
}

// Phases 6 and 7: let go of the keys whose notes end with tick t. The first phase lets the key
// rise most of the way and lifts the finger off it; the second brings both to rest.
void release(Hand& hand, int32_t t, bool final) {
    HandState& s = hand.state;
    const NoteEvent* event = eventAt(hand, t);
    if (event == nullptr) {
        return;
    }
    for (int k = 0; k < kSlotCount; ++k) {
        const NoteSlot& slot = event->slot[k];
        if (!isKey(slot.key) || slot.lastTick != 1) {
            continue;
        }
        double drop;
        if (final) {
            keyStates[slot.key].angle = kRestAngle;
            drop = kRestDrop;
        } else {
            keyStates[slot.key].angle = kReleaseAngle;
            drop = isBlack(slot.key) ? kReleaseDropBlack : kReleaseDropWhite;
        }
        s.fingers[k].z = static_cast<float>(s.position.z - drop);
    }
}
}  // namespace

void animationStep() {
    const int32_t n = static_cast<int32_t>(rightNotes.size());
    const int32_t t = currentTick;
    if (t < 0 || t >= n) {
        // Nothing to play at this tick: playback is over.
        playMode = Stopped;
        return;
    }
    if (tickPhase < kPressPhase || tickPhase > kSecondReleasePhase) {
        tickPhase = kPressPhase;
    }

    Hand right = {rightNotes, rightPlan, rightHand, rightGlide};
    Hand left = {leftNotes, leftPlan, leftHand, leftGlide};
    const bool hasNext = t + 1 < n;

    switch (tickPhase) {
        case kPressPhase:
            press(right, t);
            press(left, t);
            tickPhase = 1;
            break;
        case kFirstReleasePhase:
            if (hasNext) {
                startGlide(right, t + 1);
                startGlide(left, t + 1);
            }
            release(right, t, false);
            release(left, t, false);
            tickPhase = kSecondReleasePhase;
            break;
        case kSecondReleasePhase:
            if (hasNext) {
                continueGlide(right, t + 1);
                continueGlide(left, t + 1);
            }
            release(right, t, true);
            release(left, t, true);
            tickPhase = kPressPhase;
            currentTick = t + 1;
            if (currentTick == n) {
                playMode = Stopped;
            }
            break;
        default:
            travel(right, left, t);
            tickPhase += 1;
            break;
    }
}
