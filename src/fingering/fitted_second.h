#pragma once

#include <array>
#include <string>
#include <vector>

#include "fingering/fitted_costs.h"

// The whole-piece planner's second-order costs: the finger of a single note in a line given the
// fingers of the two single notes before it. A first-order cost sees one interval and one finger
// before; a pianist's choice also depends on where the hand came from (after 1-3 rising a step,
// the next step up is 4 or a thumb passing under, depending on the figure; after 3-1 it goes on
// 2-3). Counted on the training fingerings as negative log-probabilities, smoothed by backing off
// through the first-order context (finger before, interval, colours) to the finger before and a
// coarse interval, and added to the planner's costs with a weight the refit chooses.
//
// Context of the note struck at onset s, when s - 2, s - 1 and s are each one struck note with no
// rest between them (keys in the planning direction, the left hand mirrored):
//  - the finger two notes back and the finger one note back;
//  - the interval before (from s - 2 to s - 1) coarsely: its direction and one of four sizes (a
//    step, a third, up to a fifth, wider), or a repeat;
//  - the interval now (from s - 1 to s), clamped to +-kSecondInterval semitones;
//  - the colours of the keys of s - 1 and s; the hand.

namespace fitted {

// Interval before: -4..4 (sign and size), the repeat 0.
constexpr int kSecondBefore = 9;
constexpr int kSecondInterval = 7;
constexpr int kSecondIntervals = 2 * kSecondInterval + 1;
constexpr int kSecondContexts =
    kHands * kFingers * kFingers * kSecondBefore * kSecondIntervals * kColourPairs;
constexpr int kSecondSize = kSecondContexts * kFingers;

// The interval before, read coarsely: 0 a repeat, then a step (1-2 semitones), a third (3-4), up
// to a fifth (5-7) and wider, signed.
inline int secondBefore(int interval) {
    const int a = interval < 0 ? -interval : interval;
    const int size = a == 0 ? 0 : a <= 2 ? 1 : a <= 4 ? 2 : a <= 7 ? 3 : 4;
    return interval < 0 ? -size : size;
}

// The cell of `finger` at the note now, given the fingers two back and one back.
inline int secondIndex(int hand, int twoBack, int oneBack, int before, int interval, int colours,
                       int finger) {
    const int b = secondBefore(before) + kSecondBefore / 2;
    const int i = (interval < -kSecondInterval  ? -kSecondInterval
                   : interval > kSecondInterval ? kSecondInterval
                                                : interval) +
                  kSecondInterval;
    return (((((hand * kFingers + twoBack) * kFingers + oneBack) * kSecondBefore + b) *
                 kSecondIntervals +
             i) *
                kColourPairs +
            colours) *
               kFingers +
           finger;
}

struct SecondOrder {
    float weight;     // how much of the table the planner adds (0: not used)
    float smoothing;  // the smoothing it was counted with, for refitting it alike
    std::array<float, kSecondSize> cost;
};

// Counts at the full context, by cell.
struct SecondCounts {
    std::vector<double> count = std::vector<double>(kSecondSize, 0.0);
    void add(const SecondCounts& other);
};

// The table compiled into the program (data/fingering/fitted_second.inc).
const SecondOrder& embeddedSecondOrder();

// The table the fitted planner uses: the compiled-in one unless `table` is given (the refit
// plans each group of pieces with a table counted without it); nullptr goes back to the
// compiled-in one. The caller keeps `table` alive while it is in use.
void useSecondOrder(const SecondOrder* table);
const SecondOrder& secondOrderInUse();

// Smoothed negative log-probabilities: each context's distribution is its counts plus
// `smoothing` times that of the coarser context it backs off to (without the hand, the finger
// two back, the interval before; then the first-order context of the finger before, the interval
// and the colours; then the interval coarsely), down to the uniform one.
SecondOrder fitSecondOrder(const SecondCounts& counts, double smoothing, float weight);

// `table` as the compiled-in one (data/fingering/fitted_second.inc): `header` lines as comments,
// then the numbers; the refit writes it beside the first-order table.
std::string secondOrderText(const std::vector<std::string>& header, const SecondOrder& table);

}  // namespace fitted
