#include "geometry/hand_pose.h"

#include <algorithm>
#include <cmath>

#include "geometry/hand_contact.h"
#include "geometry/key_layout.h"

// Sections: keys; the model's numbers; the motion plan; the finger solver; fingers apart; the
// pose.

namespace {
constexpr float kPi = 3.14159265f;
constexpr float kDegrees = 180.0f / kPi;

// ---- Keys ----
constexpr float kWhiteTop = 0.15f;
constexpr float kBlackTop = 0.275f;
constexpr float kHingeZ = -0.825f;
// Where along a key a fingertip plays: a white key a little in from its front, a black key
// just behind its front.
constexpr float kWhitePlayZ = 0.45f;
constexpr float kBlackPlayZ = -0.05f;
constexpr float kThumbWhitePlayZ = 0.45f;
constexpr float kThumbBlackPlayZ = 0.05f;
// The black keys' front, and how high over a white key the thumb passes under the hand.
constexpr float kBlackFront = 0.2f;
constexpr float kThumbSkim = 0.03f;
constexpr float kThumbBehind = 0.3f;
// A held key's turn about its hinge, as drawn (render/look_gl.cpp).
constexpr float kPressTilt = 2.5f;

// ---- The model's numbers (scene units) ----
// Knuckles across the hand, right hand (the left is mirrored): from the palm's centre towards
// the little finger. The thumb's entry is its base at the wrist's side.
constexpr float kKnuckleX[5] = {-0.5f, -0.42f, -0.13f, 0.15f, 0.42f};
// Knuckles along the hand: the middle finger's the furthest out, the little finger's back.
constexpr float kKnuckleZ[5] = {0.75f, 0.0f, -0.04f, 0.0f, 0.1f};
constexpr float kKnuckleDrop[5] = {0.28f, 0.0f, -0.02f, 0.0f, 0.04f};
// Knuckles' height above the white keys' top, and where the knuckle line stands over white
// keys; playing black keys brings it in.
constexpr float kKnuckleHeight = 0.56f;
constexpr float kKnuckleLineZ = 1.0f;
constexpr float kBlackInward = 0.35f;
// The wrist's place behind the knuckles, and the forearm's way out towards the player.
constexpr float kWristBack = 1.05f;
constexpr float kWristDrop = 0.08f;
constexpr float kPalmWidth = 1.2f;  // across the knuckles: about four white keys
// The end joint bends this much for every degree of the middle one (tendons couple them).
constexpr float kFingerCoupling = 0.7f;
constexpr float kThumbCoupling = 0.8f;
// Fingers not playing hover this high over the white keys, curved.
constexpr float kRestLift = 0.22f;
constexpr float kRestZ = 0.55f;
// How far the thumb's plane of bending is turned out from upright.
constexpr float kThumbTwist = 0.9f;
// How far a stretched finger's knuckle may give towards its key.
constexpr float kSpread = 0.27f;
// A hand with nothing to play waits this far from the middle, or this far from the other hand's
// palm, whichever is further out: two hands' half widths with the thumb's reach and a finger's
// width between them.
constexpr float kIdleSide = 2.0f;
constexpr float kHandsApart = 2.6f;
// The arc between positions rises this much at its middle.
constexpr float kArcLift = 0.3f;

float mirror(int hand, float x) {
    return hand == 0 ? x : -x;
}

float smooth(float s) {
    s = std::clamp(s, 0.0f, 1.0f);
    return s * s * (3.0f - 2.0f * s);
}

// ---- The finger solver ----

// Tip of a planar chain whose first bone points at `phi` below the horizontal and whose later
// joints bend by theta and coupling * theta: (along, down).
glm::vec2 chainTip(const float* lengths, float phi, float theta, float coupling) {
    const float a[3] = {phi, phi + theta, phi + theta + coupling * theta};
    glm::vec2 tip(0.0f);
    for (int i = 0; i < 3; ++i) {
        tip += lengths[i] * glm::vec2(std::cos(a[i]), std::sin(a[i]));
    }
    return tip;
}

// How far a finger's bending plane may turn aside from the hand's length (the knuckle's
// sideways play), and the most it is turned about its base-to-tip line to keep within that.
constexpr float kSplayMost = 20.0f / kDegrees;
constexpr float kSplayTurnMost = 30.0f / kDegrees;

// The turn about the base-to-tip line that brings the plane's forward direction within
// kSplayMost of the hand's length (straight ahead, -z): the least turn that does, in steps of
// a degree, or the best within kSplayTurnMost.
template <typename Turn>
float splayTwist(glm::vec3 along, const Turn& turn) {
    auto aside = [&](float by) {
        const glm::vec3 f = turn(along, by);
        return std::fabs(std::atan2(f.x, -f.z));
    };
    if (aside(0.0f) <= kSplayMost) {
        return 0.0f;
    }
    float best = 0.0f;
    float bestAside = aside(0.0f);
    constexpr float kStep = 1.0f / kDegrees;
    for (float by = kStep; by <= kSplayTurnMost; by += kStep) {
        for (float sign : {1.0f, -1.0f}) {
            const float a = aside(sign * by);
            if (a <= kSplayMost) {
                return sign * by;
            }
            if (a < bestAside) {
                bestAside = a;
                best = sign * by;
            }
        }
    }
    return best;
}

// Places the chain from `base` so that its tip reaches `target`, within the joints' limits;
// when the target is out of reach the tip gets as near as the limits allow. The chain bends in
// the upright plane through its base and its target, turned about the line between them by
// `twist` radians towards `outward`, so that its joints bulge that way; with no twist asked
// for (a finger), turned only as far as keeps the plane within the knuckle's sideways play.
void solveFinger(const float* lengths, const JointLimit* limits, float coupling, glm::vec3 base,
                 glm::vec3 target, float twist, glm::vec3 outward, FingerPose* pose) {
    glm::vec3 toward = target - base;
    glm::vec3 flat(toward.x, 0.0f, toward.z);
    if (glm::length(flat) < 1e-4f) {
        flat = glm::vec3(0.0f, 0.0f, -1.0f);
    }
    const glm::vec3 along = glm::normalize(flat);
    const glm::vec2 wanted(glm::dot(toward, along), -toward.y);  // (along, down)
    const float distance = glm::length(wanted);
    // The distance from the base to the tip shrinks as the finger bends: find the bend.
    const float thetaHigh = std::min(limits[1].high, limits[2].high / coupling) / kDegrees;
    const float thetaLow = std::max(limits[1].low, 0.0f) / kDegrees;
    float low = thetaLow;
    float high = thetaHigh;
    for (int i = 0; i < 40; ++i) {
        const float mid = (low + high) / 2.0f;
        if (glm::length(chainTip(lengths, 0.0f, mid, coupling)) > distance) {
            low = mid;
        } else {
            high = mid;
        }
    }
    const float theta = (low + high) / 2.0f;
    const glm::vec2 bent = chainTip(lengths, 0.0f, theta, coupling);
    float phi = std::atan2(wanted.y, wanted.x) - std::atan2(bent.y, bent.x);
    phi = std::clamp(phi, limits[0].low / kDegrees, limits[0].high / kDegrees);
    const float a[3] = {phi, phi + theta, phi + theta + coupling * theta};
    // Turning the plane about the line from the base to the target leaves the angles, and the
    // tip on its target, as they are.
    glm::vec3 forward = along;
    glm::vec3 up(0.0f, 1.0f, 0.0f);
    // About the line to where the tip comes, which is the target's only when the target is
    // within reach: turned about the line to an unreachable target, the tip itself would swing
    // round, and jump as the turn changes.
    glm::vec3 reached(0.0f);
    for (int i = 0; i < 3; ++i) {
        reached += lengths[i] * (std::cos(a[i]) * forward - std::sin(a[i]) * up);
    }
    if (glm::length(reached) > 1e-4f) {
        const glm::vec3 axis = glm::normalize(reached);
        auto turn = [&axis](glm::vec3 v, float by) {
            return v * std::cos(by) + glm::cross(axis, v) * std::sin(by) +
                   axis * glm::dot(axis, v) * (1.0f - std::cos(by));
        };
        if (twist != 0.0f) {
            if (glm::dot(turn(up, twist), outward) < glm::dot(turn(up, -twist), outward)) {
                twist = -twist;
            }
        } else {
            // A finger's knuckle turns it only a little aside from the hand's length; a tip
            // almost under its knuckle but off to one side would otherwise turn the finger's
            // plane far round, its middle joint swinging across the neighbour's bones.
            twist = splayTwist(along, turn);
        }
        forward = turn(along, twist);
        up = turn(up, twist);
    }
    pose->joint[0] = base;
    glm::vec3 at = base;
    for (int i = 0; i < 3; ++i) {
        at += lengths[i] * (std::cos(a[i]) * forward - std::sin(a[i]) * up);
        pose->joint[i + 1] = at;
    }
    pose->angle[0] = phi * kDegrees;
    pose->angle[1] = theta * kDegrees;
    pose->angle[2] = coupling * theta * kDegrees;
}

// Places finger `f` from its knuckle at `base` with its tip at `target`. A finger stretching
// beyond its length spreads the hand: its knuckle gives towards the key, as far as a stretched
// hand's knuckles spread (about 20 mm).
void placeFinger(int hand, int f, glm::vec3 base, glm::vec3 target, FingerPose* finger) {
    const float reach = (kBoneLength[f][0] + kBoneLength[f][1] + kBoneLength[f][2]) * 0.98f;
    const glm::vec3 toward = target - base;
    const float shortfall = glm::length(toward) - reach;
    if (shortfall > 0.0f) {
        base += glm::normalize(toward) * std::min(shortfall, kSpread);
    }
    const JointLimit* limits = f == 0 ? kThumbLimits : kFingerLimits;
    // The thumb's joints bulge out from the hand and down, as a thumb's do, rather than up into
    // the index finger's knuckle.
    solveFinger(kBoneLength[f], limits, f == 0 ? kThumbCoupling : kFingerCoupling, base, target,
                f == 0 ? kThumbTwist : 0.0f, glm::vec3(mirror(hand, -1.0f), -1.0f, 0.0f), finger);
}

// ---- Fingers apart ----

// A finger that holds no key gives way to its neighbours: where its solid goes into another
// finger's (the drawn thickness, geometry/hand_contact.h), its tip moves away from the other
// finger and up, by the overlap over how far out along the finger the contact lies, and its
// chain is solved again, over a few passes. Held fingers stay on their keys; two free fingers
// each give half.
constexpr int kApartPasses = 20;
// The furthest a fingertip moves in one pass, and how much it rises for every unit it moves
// away.
constexpr float kApartStep = 0.15f;
constexpr float kApartRise = 3.0f;
// A contact nearer the knuckle than a quarter of the finger's length moves the tip as if it
// were at that quarter, so that the tip never flies off for a touch at the knuckle.
constexpr float kLeverLeast = 0.25f;
// The most a fingertip gives way from where it was going, in all (112 mm: with a third of it
// free fingers stayed inside their neighbours five times as often); and it never rises above
// its knuckle, where its bend would turn round.
constexpr float kGiveMost = 1.5f;

void keepFingersApart(const glm::vec3* bases, glm::vec3* targets, const float* freedom,
                      HandPose* pose) {
    glm::vec3 wanted[5];
    for (int f = 0; f < 5; ++f) {
        wanted[f] = targets[f];
    }
    for (int pass = 0; pass < kApartPasses; ++pass) {
        bool moved = false;
        for (int a = 0; a < 5; ++a) {
            for (int b = a + 1; b < 5; ++b) {
                const FingerContact c = fingerPairContact(*pose, a, b);
                if (c.overlap <= 0.0f) {
                    continue;
                }
                const bool freeA = !pose->fingers[a].playing;
                const bool freeB = !pose->fingers[b].playing;
                for (int side = 0; side < 2; ++side) {
                    const int mover = side == 0 ? a : b;
                    if (pose->fingers[mover].playing || freedom[mover] <= 0.0f) {
                        continue;
                    }
                    const float share = (freeA && freeB ? 0.5f : 1.0f) * freedom[mover];
                    // Away along the line between the two axes' closest points; where the axes
                    // meet, towards the side the finger lies on in the hand.
                    glm::vec3 away = c.point[side] - c.point[1 - side];
                    if (glm::length(away) < 1e-4f) {
                        away = glm::vec3(mirror(pose->hand, side == 0 ? -1.0f : 1.0f), 0.0f, 0.0f);
                    }
                    away = glm::normalize(away);
                    // Aside always towards the finger's own side of the hand: a finger never
                    // gives way across its neighbour.
                    away.x = std::fabs(away.x) * mirror(pose->hand, side == 0 ? -1.0f : 1.0f);
                    const glm::vec3 root = pose->fingers[mover].joint[0];
                    const float arm = glm::length(pose->fingers[mover].joint[3] - root);
                    const float lever = std::max(
                        kLeverLeast, glm::length(c.point[side] - root) / std::max(arm, 1e-3f));
                    const float step = share * std::min(kApartStep, c.overlap / lever);
                    glm::vec3 give = targets[mover] - wanted[mover] + away * step +
                                     glm::vec3(0.0f, kApartRise * step, 0.0f);
                    if (glm::length(give) > kGiveMost) {
                        give *= kGiveMost / glm::length(give);
                    }
                    targets[mover] = wanted[mover] + give;
                    targets[mover].y =
                        std::min(targets[mover].y, std::max(wanted[mover].y, bases[mover].y));
                    placeFinger(pose->hand, mover, bases[mover], targets[mover],
                                &pose->fingers[mover]);
                    moved = true;
                }
            }
        }
        if (!moved) {
            break;
        }
    }
}

// Giving way while the palm travels would add its own speed to the travel's (a contact near a
// knuckle moves the tip many times the overlap: spikes of 3.5 to 70 m/s). So every free finger,
// once clear of its last key and until it comes down on its next, also keeps to its lane across
// the hand: its tip no nearer its neighbours' tips than their knuckles are apart (the thumb's a
// white key and a little beside the index's), which keeps the bones from the knuckles about
// parallel. Taking the nearer of two places moves a tip no faster than the places move, so the
// lanes can never make a spike; the fingers keep their order from the index to the little
// finger, and the thumb may still pass under the index when it comes down on a key there.
constexpr float kThumbLane = 0.33f;
constexpr float kLaneRise = 1.0f;
constexpr float kLaneRiseMost = 0.3f;

float laneGap(int a, int b) {
    return a == 0 ? kThumbLane : std::fabs(kKnuckleX[b] - kKnuckleX[a]);
}

void keepToLanes(const glm::vec3* bases, glm::vec3* targets, const float* strength,
                 HandPose* pose) {
    const int hand = pose->hand;
    // Across the hand, growing towards the little finger.
    float across[5];
    for (int f = 0; f < 5; ++f) {
        across[f] = mirror(hand, targets[f].x);
    }
    // Each finger kept to its lane from where its neighbours are kept (a held finger stays
    // where its key is), by as much as its strength says: every step is continuous in the
    // places and the strengths, so a finger just let go moves its neighbours only gradually.
    // Kept from the thumb's side first and then from the little finger's, and the other way
    // round, and the two taken half each: free fingers squeezed between two held ones (less
    // room than their lanes) then share the room evenly instead of all being pushed against
    // the one held finger the last pass starts from.
    float kept[5];
    float other[5];
    std::copy(across, across + 5, kept);
    std::copy(across, across + 5, other);
    auto keepTo = [&](float* at, int f, float place) {
        at[f] += std::clamp(strength[f], 0.0f, 1.0f) * (place - at[f]);
    };
    auto fromThumb = [&](float* at) {
        for (int f = 2; f < 5; ++f) {
            keepTo(at, f, std::max(at[f], at[f - 1] + laneGap(f - 1, f)));
        }
    };
    auto fromLittle = [&](float* at) {
        for (int f = 3; f >= 0; --f) {
            keepTo(at, f, std::min(at[f], at[f + 1] - laneGap(f, f + 1)));
        }
    };
    fromThumb(kept);
    fromLittle(kept);
    fromLittle(other);
    fromThumb(other);
    for (int f = 0; f < 5; ++f) {
        kept[f] = 0.5f * (kept[f] + other[f]);
    }
    // A finger its neighbour on the thumb's side still comes nearer than the lane (a thumb
    // held under the hand, a finger crossing over the thumb) goes over it: it rises by as much
    // as the lane is short, never above its knuckle. The thumb itself stays low.
    for (int f = 1; f < 5; ++f) {
        const float s = std::clamp(strength[f], 0.0f, 1.0f);
        const float lower = mirror(hand, pose->fingers[f - 1].joint[3].x);
        const float shortBy = laneGap(f - 1, f) - (kept[f] - lower);
        if (s > 0.0f && shortBy > 0.0f) {
            const float y = targets[f].y + s * std::min(kLaneRise * shortBy, kLaneRiseMost);
            targets[f].y = std::max(targets[f].y, std::min(y, bases[f].y));
        }
    }
    for (int f = 0; f < 5; ++f) {
        if (strength[f] > 0.0f) {
            targets[f].x = mirror(hand, kept[f]);
            placeFinger(hand, f, bases[f], targets[f], &pose->fingers[f]);
        }
    }
}

}  // namespace

const JointLimit kFingerLimits[kFingerJoints] = {{-20.0f, 90.0f}, {0.0f, 110.0f}, {0.0f, 90.0f}};
const JointLimit kThumbLimits[kFingerJoints] = {{-45.0f, 80.0f}, {0.0f, 80.0f}, {0.0f, 80.0f}};

// An adult's bones (mm: thumb 46/32/25, index 40/23/17, middle 45/27/18, ring 42/26/18,
// little 33/19/16), in scene units.
const float kBoneLength[5][3] = {{0.617f, 0.429f, 0.335f},
                                 {0.536f, 0.308f, 0.228f},
                                 {0.603f, 0.362f, 0.241f},
                                 {0.563f, 0.349f, 0.241f},
                                 {0.442f, 0.255f, 0.214f}};

// ---- Keys ----

float keyTopHeight(int key) {
    return isBlackKey(key) ? kBlackTop : kWhiteTop;
}

float keyPressDrop(float z) {
    return (z - kHingeZ) * std::sin(kPressTilt / kDegrees);
}

glm::vec3 fingerKeyTarget(int key) {
    buildKeyLayout();
    key = std::clamp(key, 0, 87);
    return {KeyLayout[key].x, keyTopHeight(key), isBlackKey(key) ? kBlackPlayZ : kWhitePlayZ};
}

namespace {
glm::vec3 playPoint(int finger, int key, bool down) {
    glm::vec3 p = fingerKeyTarget(key);
    if (finger == 0) {
        p.z = isBlackKey(key) ? kThumbBlackPlayZ : kThumbWhitePlayZ;
    }
    p.y += kTipRadius - (down ? keyPressDrop(p.z) : 0.0f);
    return p;
}

// Where finger `finger`'s tip would be with the palm's centre at x: its knuckle's place; the
// thumb's 30 mm out beyond its base (67 mm from the palm's middle), so that it plays beside the
// index finger's knuckle rather than under it, where the player's camera sees it (22 mm out,
// the index's knuckle hid the thumb's end at more of its onsets: 2.8 % against 1.3 %).
float naturalX(int hand, int finger, float palmX) {
    const float thumbReach = -0.4f;
    return palmX + mirror(hand, kKnuckleX[finger] + (finger == 0 ? thumbReach : 0.0f));
}

// ---- The motion plan ----

// The palm's centre for the notes held at `t`: each finger's key, less its knuckle's offset.
bool anchorAt(int hand, const std::vector<HandNote>& notes, double t, float* x, float* depth) {
    float sum = 0.0f;
    int count = 0;
    int black = 0;
    for (const HandNote& n : notes) {
        if (n.onset > t + 1e-9) {
            break;
        }
        if (t < n.keyUp || n.onset >= t - 1e-9) {
            sum += fingerKeyTarget(n.key).x - (naturalX(hand, n.finger, 0.0f));
            ++count;
            black += isBlackKey(n.key) ? 1 : 0;
        }
    }
    if (count == 0) {
        return false;
    }
    *x = sum / count;
    *depth = kKnuckleLineZ - kBlackInward * static_cast<float>(black) / count;
    return true;
}

// Where the palm may stand for a set of notes: each finger reaches its key from its knuckle's
// place within its own sideways reach, so the palm may stand anywhere in the intersection of the
// notes' windows; it takes the mean of the notes' own places, kept inside that intersection.
// The thumb reaches furthest sideways, the middle and ring fingers least.
constexpr float kSideReach[5] = {0.45f, 0.3f, 0.2f, 0.2f, 0.35f};

struct Reach {
    float low = -1e9f;
    float high = 1e9f;
    float sum = 0.0f;
    int count = 0;
    int black = 0;
    void add(int hand, const HandNote& n) {
        const float own = fingerKeyTarget(n.key).x - naturalX(hand, n.finger, 0.0f);
        low = std::max(low, own - kSideReach[n.finger]);
        high = std::min(high, own + kSideReach[n.finger]);
        sum += own;
        ++count;
        black += isBlackKey(n.key) ? 1 : 0;
    }
    bool fits() const { return count > 0 && low <= high; }
    float place() const { return std::clamp(sum / static_cast<float>(count), low, high); }
    float depth() const {
        return kKnuckleLineZ - kBlackInward * static_cast<float>(black) / static_cast<float>(count);
    }
};
}  // namespace

namespace {
void planTravellingGive(HandMotion* motion);
}

double moveTime(double distance) {
    const double arc = distance > 0.6 ? 1.3 : 1.0;
    constexpr double kFingersOwn = 1.5;
    return std::max(kShortestMove, 1.5 * arc * kFingersOwn * distance / kFastestTip);
}

HandMotion planHandMotion(int hand, std::vector<HandNote> notes) {
    HandMotion motion;
    motion.hand = hand;
    motion.idleX = mirror(hand, kIdleSide);
    std::stable_sort(notes.begin(), notes.end(),
                     [](const HandNote& a, const HandNote& b) { return a.onset < b.onset; });
    for (HandNote& n : notes) {
        n.finger = std::clamp(n.finger, 0, 4);
        n.key = std::clamp(n.key, 0, 87);
        n.keyUp = std::max(n.keyUp, n.onset);
    }
    motion.notes = notes;
    // Groups of notes starting together, then hand positions: runs of groups whose notes can
    // all be reached from one place of the palm. Within a position the fingers move and the
    // palm holds still, so a roll, a trill or a tremolo is played from the hand, not the arm.
    std::vector<std::pair<size_t, size_t>> groups;
    for (size_t i = 0; i < notes.size();) {
        size_t j = i;
        while (j < notes.size() && notes[j].onset - notes[i].onset < 1e-6) {
            ++j;
        }
        groups.push_back({i, j});
        i = j;
    }
    std::vector<double> lastOnsets;
    for (size_t g = 0; g < groups.size();) {
        HandMotion::Anchor anchor;
        anchor.start = notes[groups[g].first].onset;
        anchor.arrive = anchor.start;
        // The group's own notes, with those still held from before when they fit.
        Reach reach;
        anchorAt(hand, notes, anchor.start, &anchor.x, &anchor.depth);
        for (size_t k = groups[g].first; k < groups[g].second; ++k) {
            reach.add(hand, notes[k]);
        }
        Reach held = reach;
        for (size_t k = 0; k < groups[g].first; ++k) {
            if (notes[k].keyUp > anchor.start + 1e-9) {
                held.add(hand, notes[k]);
            }
        }
        if (held.fits()) {
            reach = held;
        }
        double up = anchor.start;
        size_t next = g;
        do {
            for (size_t k = groups[next].first; k < groups[next].second; ++k) {
                up = std::max(up, notes[k].keyUp);
            }
            ++next;
            if (next >= groups.size() || !reach.fits()) {
                break;
            }
            Reach wider = reach;
            for (size_t k = groups[next].first; k < groups[next].second; ++k) {
                wider.add(hand, notes[k]);
            }
            if (!wider.fits()) {
                break;
            }
            reach = wider;
        } while (true);
        if (reach.fits()) {
            anchor.x = reach.place();
            anchor.depth = reach.depth();
        }
        // The position's keys come up when the last of them does.
        anchor.leave = up;
        lastOnsets.push_back(notes[groups[next - 1].first].onset);
        motion.anchors.push_back(anchor);
        g = next;
    }
    // Each move leaves as late as the notes allow and takes the time its distance needs at the
    // bounded speed; a move the music leaves less time for takes what there is.
    for (size_t k = 0; k + 1 < motion.anchors.size(); ++k) {
        HandMotion::Anchor& a = motion.anchors[k];
        const HandMotion::Anchor& b = motion.anchors[k + 1];
        // The palm lands a finger's stroke before the note, so that the finger comes down
        // from a hand at rest; when the position's last notes come close before the next
        // position, later, within the last 30 % of the time from the last of them, so that
        // the palm does not leave before they are played with their fingers stretched behind.
        a.arrive = b.start -
                   std::min({kStrike, 0.3 * (b.start - a.start), 0.3 * (b.start - lastOnsets[k])});
        const double distance = std::fabs(b.x - a.x) + std::fabs(b.depth - a.depth);
        const double needed = moveTime(distance);
        const double latest = a.arrive - needed;
        a.leave = std::clamp(std::min(a.leave, latest), a.start, a.arrive);
        if (a.arrive - a.leave < needed) {
            a.leave = std::max(a.start, a.arrive - needed);
        }
    }
    if (!motion.anchors.empty()) {
        motion.anchors.back().arrive = motion.anchors.back().leave;
    }
    // A finger still holding its key when the palm leaves for a place the key is out of its
    // reach from lets go as the palm leaves: dragged along, it would sweep across its
    // neighbours' knuckles.
    motion.letGo.resize(motion.notes.size());
    size_t k = 0;
    for (size_t i = 0; i < motion.notes.size(); ++i) {
        const HandNote& n = motion.notes[i];
        motion.letGo[i] = n.keyUp;
        while (k + 1 < motion.anchors.size() && motion.anchors[k + 1].start <= n.onset + 1e-9) {
            ++k;
        }
        if (k + 1 >= motion.anchors.size()) {
            continue;
        }
        const HandMotion::Anchor& a = motion.anchors[k];
        const HandMotion::Anchor& b = motion.anchors[k + 1];
        const float own = fingerKeyTarget(n.key).x - naturalX(hand, n.finger, 0.0f);
        if (n.onset <= a.leave + 1e-9 && n.keyUp > a.leave &&
            std::fabs(own - b.x) > kSideReach[n.finger]) {
            motion.letGo[i] = std::max(a.leave, std::min(n.keyUp, n.onset + kStrike));
        }
    }
    // A finger whose key another finger plays next makes way for it a stroke before, as a
    // pianist changing fingers on a repeated key does (or halfway through its note when the
    // note is shorter): held to the end, the two fingertips would come together on the key.
    for (size_t i = 0; i < motion.notes.size(); ++i) {
        const HandNote& n = motion.notes[i];
        for (size_t j = i + 1; j < motion.notes.size(); ++j) {
            const HandNote& later = motion.notes[j];
            if (later.onset > motion.letGo[i] + kStrike) {
                break;
            }
            if (later.onset <= n.onset + 1e-9) {
                continue;
            }
            if (later.finger == n.finger) {
                if (later.key == n.key) {
                    continue;
                }
                // The same finger goes on to another key: it leaves this one a stroke before,
                // so that it gets there over a stroke's time instead of jumping across.
                motion.letGo[i] = std::min(
                    motion.letGo[i],
                    std::max(later.onset - kStrike, n.onset + 0.5 * (later.onset - n.onset)));
                break;
            }
            // A neighbour (not the thumb) coming down across this finger's key, on its far
            // side, crosses its bones as much as one coming down on the key itself.
            const float across =
                mirror(motion.hand, fingerKeyTarget(later.key).x - fingerKeyTarget(n.key).x);
            const bool crossing = n.finger > 0 && later.finger > 0 &&
                                  ((later.finger == n.finger + 1 && across <= 0.0f) ||
                                   (later.finger == n.finger - 1 && across >= 0.0f));
            if (later.key != n.key && !crossing) {
                continue;
            }
            const double makeWay =
                std::max(later.onset - kStrike, n.onset + 0.5 * (later.onset - n.onset));
            motion.letGo[i] = std::min(motion.letGo[i], makeWay);
            break;
        }
    }
    planTravellingGive(&motion);
    return motion;
}

void restIdleHands(HandMotion* right, HandMotion* left) {
    HandMotion* hands[2] = {right, left};
    for (int hand = 0; hand < 2; ++hand) {
        HandMotion& idle = *hands[hand];
        const HandMotion& other = *hands[1 - hand];
        if (!idle.anchors.empty() || other.anchors.empty()) {
            continue;
        }
        // Nearest the other hand comes, along the keyboard towards this hand's side.
        float nearest = mirror(hand, other.anchors.front().x);
        for (const HandMotion::Anchor& a : other.anchors) {
            nearest = std::max(nearest, mirror(hand, a.x));
        }
        idle.idleX = mirror(hand, std::max(kIdleSide, nearest + kHandsApart));
    }
}

namespace {
// The planned travelling give at `seconds`, interpolated between its samples; false outside
// every stretch of travel.
bool travellingGive(const HandMotion& motion, double seconds, glm::vec3* give) {
    const auto& stretches = motion.travelGive;
    auto after =
        std::upper_bound(stretches.begin(), stretches.end(), seconds,
                         [](double t, const HandMotion::TravelGive& g) { return t < g.start; });
    if (after == stretches.begin()) {
        return false;
    }
    const HandMotion::TravelGive& g = *(after - 1);
    const size_t samples = g.offsets.size() / 5;
    if (samples < 2 || g.step <= 0.0) {
        return false;
    }
    const double at = (seconds - g.start) / g.step;
    if (at < 0.0 || at > static_cast<double>(samples - 1)) {
        return false;
    }
    const size_t i = std::min(static_cast<size_t>(at), samples - 2);
    const float u = static_cast<float>(at - static_cast<double>(i));
    for (int f = 0; f < 5; ++f) {
        give[f] = g.offsets[i * 5 + f] * (1.0f - u) + g.offsets[(i + 1) * 5 + f] * u;
    }
    return true;
}

// Whether the thumb, coming down on `next`, passes under a finger that holds a key on the
// thumb's side of it when the thumb lands: it then goes across behind that finger's tip.
bool thumbPassesUnder(const HandMotion& motion, const HandNote& next) {
    const float landing = mirror(motion.hand, fingerKeyTarget(next.key).x);
    for (size_t i = 0; i < motion.notes.size(); ++i) {
        const HandNote& n = motion.notes[i];
        if (n.onset >= next.onset) {
            break;
        }
        const double up = i < motion.letGo.size() ? motion.letGo[i] : n.keyUp;
        if (n.finger > 0 && up > next.onset - kStrike &&
            mirror(motion.hand, fingerKeyTarget(n.key).x) < landing) {
            return true;
        }
    }
    return false;
}

// The palm's place along the keyboard, its depth and its lift on the way between positions.
void palmAt(const HandMotion& motion, double seconds, float* palmX, float* palmDepth,
            float* palmLift) {
    float x = motion.idleX;  // a hand with nothing to play waits at its side
    float depth = kKnuckleLineZ;
    float lift = 0.0f;
    const auto& anchors = motion.anchors;
    if (!anchors.empty()) {
        size_t k = 0;
        while (k + 1 < anchors.size() && anchors[k + 1].start <= seconds) {
            ++k;
        }
        const HandMotion::Anchor& a = anchors[k];
        x = a.x;
        depth = a.depth;
        if (seconds < anchors.front().start) {
            x = anchors.front().x;
            depth = anchors.front().depth;
        } else if (k + 1 < anchors.size() && seconds > a.leave) {
            const HandMotion::Anchor& b = anchors[k + 1];
            const float s = a.arrive > a.leave
                                ? static_cast<float>((seconds - a.leave) / (a.arrive - a.leave))
                                : 1.0f;
            const float e = smooth(s);
            x = a.x + (b.x - a.x) * e;
            depth = a.depth + (b.depth - a.depth) * e;
            if (std::fabs(b.x - a.x) > 0.6f) {
                lift = kArcLift * std::sin(kPi * std::clamp(s, 0.0f, 1.0f));
            }
        }
    }
    *palmX = x;
    *palmDepth = depth;
    *palmLift = lift;
}
}  // namespace

namespace {
// How a pose is composed: as shown, or for planning the travelling give (every free finger
// giving way as in a standing hand, the planned give left out, and the give it took written
// to `gave`).
HandPose composePose(const HandMotion& motion, double seconds, bool planning, glm::vec3* gave) {
    HandPose pose;
    pose.hand = motion.hand;
    pose.palmWidth = kPalmWidth;
    const int hand = motion.hand;
    float x = 0.0f;
    float depth = 0.0f;
    float lift = 0.0f;
    palmAt(motion, seconds, &x, &depth, &lift);
    const float knuckleY = kWhiteTop + kKnuckleHeight + lift;
    pose.palm = {x, knuckleY - 0.12f, depth + 0.45f};
    pose.wrist = {x + mirror(hand, -0.05f), knuckleY - kWristDrop, depth + kWristBack};
    // The forearm runs back towards the player and in towards the body's middle.
    pose.elbowward = {mirror(hand, 1.6f) + 0.3f * x, pose.wrist.y - 0.35f, pose.wrist.z + 3.5f};

    glm::vec3 bases[5];
    glm::vec3 targets[5];
    float freedom[5];
    float lane[5] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // While the palm travels between positions its free fingers do not give way, because the
    // give would add its own speed to the travel's (they keep to their lanes, see above); they
    // stop giving way over a stroke's time before the palm leaves and start again as gradually
    // after it lands.
    float settled = 1.0f;
    for (size_t m = 0; m + 1 < motion.anchors.size(); ++m) {
        const double leave = motion.anchors[m].leave;
        const double land = motion.anchors[m + 1].start;
        if (seconds < leave - kStrike) {
            break;
        }
        if (seconds > land + kStrike) {
            continue;
        }
        const double outside = std::max(leave - seconds, seconds - land);
        settled = std::min(settled, smooth(static_cast<float>(std::max(0.0, outside) / kStrike)));
    }
    for (int f = 0; f < 5; ++f) {
        FingerPose& finger = pose.fingers[f];
        finger.playing = false;
        finger.key = -1;
        glm::vec3 base(x + mirror(hand, kKnuckleX[f]), knuckleY - kKnuckleDrop[f],
                       depth + kKnuckleZ[f]);
        // Held, coming down onto its next key, or resting.
        const HandNote* held = nullptr;
        const HandNote* next = nullptr;
        const HandNote* last = nullptr;
        double lastUp = 0.0;
        for (size_t i = 0; i < motion.notes.size(); ++i) {
            const HandNote& n = motion.notes[i];
            if (n.finger != f) {
                continue;
            }
            const double up = i < motion.letGo.size() ? motion.letGo[i] : n.keyUp;
            if (n.onset <= seconds && seconds < up) {
                held = &n;
            } else if (n.onset > seconds) {
                next = &n;
                break;
            } else {
                last = &n;
                lastUp = up;
            }
        }
        glm::vec3 rest(naturalX(hand, f, x), kWhiteTop + kRestLift + lift,
                       f == 0 ? kThumbWhitePlayZ : kRestZ);
        glm::vec3 target = rest;
        if (held != nullptr) {
            target = playPoint(f, held->key, true);
            finger.playing = true;
            finger.key = held->key;
        } else {
            // Up from the last key towards the resting place, then across and down onto the
            // next key in time for its onset: never sliding through the neighbours.
            glm::vec3 from = rest;
            if (last != nullptr && seconds - lastUp < kStrike) {
                glm::vec3 up = playPoint(f, last->key, false);
                // A finger lets go as the palm leaves: it goes along with the palm as it rises,
                // rather than staying behind under its neighbours.
                float thenX = 0.0f;
                float thenDepth = 0.0f;
                float thenLift = 0.0f;
                palmAt(motion, lastUp, &thenX, &thenDepth, &thenLift);
                up.x += x - thenX;
                const float away = smooth(static_cast<float>((seconds - lastUp) / kStrike));
                from = up + (rest - up) * away;
                // The thumb rises only as it comes out from under the hand, so that it passes
                // below the fingers rather than through them.
                const float rise = f == 0 ? away * away : smooth(std::min(1.0f, away * 2.0f));
                from.y = up.y + (rest.y - up.y) * rise;
            }
            target = from;
            // The stroke onto the next key starts once the finger is free of its last one,
            // so that it leaves the key from where it is rather than from where it would be.
            const double begin =
                next == nullptr ? 0.0
                                : std::max(next->onset - kStrike, last != nullptr ? lastUp : 0.0);
            if (next != nullptr && seconds > begin) {
                const float w = next->onset > begin
                                    ? static_cast<float>((seconds - begin) / (next->onset - begin))
                                    : 1.0f;
                const glm::vec3 over = playPoint(f, next->key, false);
                const float across = smooth(std::min(1.0f, w * 2.0f));
                const float down = smooth(std::max(0.0f, w * 2.0f - 1.0f));
                // The thumb goes across to a white key just over the white keys' tops in front
                // of the black keys, under the arch of the fingers it passes.
                const bool under = f == 0 && !isBlackKey(next->key) && from.z > kBlackFront;
                const float high = under ? over.y + kThumbSkim : std::max(from.y, over.y + 0.12f);
                target = glm::vec3(
                    from.x + (over.x - from.x) * across,
                    down > 0.0f ? high + (over.y - high) * down : from.y + (high - from.y) * across,
                    from.z + (over.z - from.z) * across);
                if (under && thumbPassesUnder(motion, *next)) {
                    const float crossing = 1.0f;
                    const float back = smooth(std::min(1.0f, w * 3.0f)) - down;
                    target.z += kThumbBehind * crossing * back;
                }
            }
        }
        bases[f] = base;
        targets[f] = target;
        // A finger gives way while it holds no key and the palm stands in a position, and
        // gives less as it comes down onto its next key, so that it lands where it aims.
        freedom[f] = 0.0f;
        if (held == nullptr) {
            const double until = next != nullptr ? (next->onset - seconds) / kStrike : 1.0;
            freedom[f] = smooth(static_cast<float>(until)) * (planning ? 1.0f : settled);
            // And it keeps to its lane, once it is clear of its last key and until it comes
            // down on its next.
            const float clear =
                last != nullptr ? smooth(static_cast<float>((seconds - lastUp) / kStrike)) : 1.0f;
            lane[f] = smooth(static_cast<float>(until)) * clear;
        }
        placeFinger(hand, f, base, target, &finger);
    }
    keepToLanes(bases, targets, lane, &pose);
    if (planning) {
        glm::vec3 before[5];
        std::copy(targets, targets + 5, before);
        keepFingersApart(bases, targets, freedom, &pose);
        for (int f = 0; f < 5; ++f) {
            gave[f] = targets[f] - before[f];
        }
        return pose;
    }
    // While the palm travels, the give planned for it (smoothed in time, see travellingGive),
    // as far as the finger is free and the palm is on its way.
    glm::vec3 planned[5];
    if (settled < 1.0f && travellingGive(motion, seconds, planned)) {
        for (int f = 0; f < 5; ++f) {
            const float w = (1.0f - settled) * lane[f];
            if (pose.fingers[f].playing || w <= 0.0f) {
                continue;
            }
            const glm::vec3 wanted = targets[f];
            targets[f] += planned[f] * w;
            targets[f].y = std::min(targets[f].y, std::max(wanted.y, bases[f].y));
            placeFinger(hand, f, bases[f], targets[f], &pose.fingers[f]);
        }
    }
    keepFingersApart(bases, targets, freedom, &pose);
    return pose;
}
}  // namespace

HandPose handPoseAt(const HandMotion& motion, double seconds) {
    return composePose(motion, seconds, false, nullptr);
}

namespace {
// The travelling give: over each stretch of travel (a stroke before the palm leaves to a
// stroke after it lands, stretches that meet joined), the give each free finger would take in
// a standing hand, sampled 120 times a second and capped, then raised to its envelope that
// changes no faster than kGiveRate (0.6 m/s a coordinate): each coordinate's positive and
// negative parts are each the largest of every sample's less the rate times the time from it. A
// finger then gives way before the contact comes and keeps its give a little after, instead of
// jumping.
constexpr double kGiveStep = 1.0 / 120.0;
constexpr float kGiveRate = 8.0f;
constexpr float kTravelGiveMost = 0.3f;

void planTravellingGive(HandMotion* motion) {
    motion->travelGive.clear();
    std::vector<std::pair<double, double>> stretches;
    for (size_t k = 0; k + 1 < motion->anchors.size(); ++k) {
        const double from = motion->anchors[k].leave - kStrike;
        const double to = motion->anchors[k + 1].start + kStrike;
        if (!stretches.empty() && from <= stretches.back().second) {
            stretches.back().second = std::max(stretches.back().second, to);
        } else {
            stretches.push_back({from, to});
        }
    }
    const float fall = kGiveRate * static_cast<float>(kGiveStep);
    for (const auto& [from, to] : stretches) {
        HandMotion::TravelGive give;
        give.start = from;
        give.step = kGiveStep;
        const size_t samples = static_cast<size_t>(std::ceil((to - from) / kGiveStep)) + 1;
        std::vector<glm::vec3> raw(samples * 5);
        for (size_t i = 0; i < samples; ++i) {
            composePose(*motion, from + static_cast<double>(i) * kGiveStep, true, &raw[i * 5]);
            for (int f = 0; f < 5; ++f) {
                glm::vec3& g = raw[i * 5 + f];
                // Aside and up only: given along the keys as well, two free fingers' gives,
                // each the largest of a changing direction, sent them into each other.
                g.z = 0.0f;
                if (glm::length(g) > kTravelGiveMost) {
                    g *= kTravelGiveMost / glm::length(g);
                }
            }
        }
        std::vector<glm::vec3> rise(samples * 5);
        std::vector<glm::vec3> sink(samples * 5);
        for (size_t i = 0; i < samples * 5; ++i) {
            rise[i] = glm::max(raw[i], glm::vec3(0.0f));
            sink[i] = glm::max(-raw[i], glm::vec3(0.0f));
        }
        for (std::vector<glm::vec3>* part : {&rise, &sink}) {
            std::vector<glm::vec3>& v = *part;
            for (size_t i = 5; i < samples * 5; ++i) {
                v[i] = glm::max(v[i], v[i - 5] - glm::vec3(fall));
            }
            for (size_t i = samples * 5 - 5; i-- > 0;) {
                v[i] = glm::max(v[i], v[i + 5] - glm::vec3(fall));
            }
        }
        give.offsets.resize(samples * 5);
        for (size_t i = 0; i < samples * 5; ++i) {
            give.offsets[i] = rise[i] - sink[i];
        }
        motion->travelGive.push_back(std::move(give));
    }
}
}  // namespace
