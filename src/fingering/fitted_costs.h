#pragma once

#include <array>
#include <string>
#include <vector>

// The fitted costs of the whole-piece planner: negative log-probabilities of the fingers editors
// print, counted on fingered scores (data/fingering-train) and smoothed, in one flat table that
// is compiled into the program (data/fingering/fitted_costs.inc, written by
// quorvel-fingering-fit). Fingers are 0 thumb .. 4 little; keys are in the planning direction
// (the left hand mirrored, as the planner sees it), so a positive interval moves away from the
// thumb side. Three tables:
//  - transition: the finger of a struck note given the finger of a note before it, by hand, the
//    interval in semitones (clamped to +-kMaxInterval), the black/white pattern of the two keys
//    and whether the hand had time to move between them (kGaps buckets);
//  - chord: the fingers of the notes sounding together at an onset, as one shape (the index of
//    the rising finger set among the C(5, n) sets of n fingers, in bit-mask order), by hand, the
//    number of notes, the span from the lowest to the highest key (clamped), the colours of the
//    outer keys and where the widest gap between neighbouring keys lies;
//  - start: the finger of the first note of a line after a rest (by the way the line goes) and of
//    its last before one, by hand and key colour;
//  - figure: the finger of a single struck note given the figure around it, whatever the fingers
//    of its neighbours: the intervals from the note before and to the note after (clamped to
//    +-kFigureInterval, or none across a rest, or a chord there), by hand, key colour and the
//    colours of the single notes before and after it;
//  - place: the finger of a single struck note given where it lies among the keys sounding
//    around it (kPlaceReach onsets on either side, not across a rest): its semitones above the
//    lowest and below the highest of them (each clamped to kPlaceMax), by hand and key colour.
//    It says where the hand sits: the bottom of a handful of notes is the thumb's, the top the
//    little finger's, whatever finger the note before had.
// Blend weights (chosen by cross-validation over the training pieces) scale the tables, mix in the
// hand-set rules and set how strongly an identical figure keeps the fingering chosen before.
// The rules themselves (what a black key, a passing thumb, a stretch or a leap costs) are fitted
// too: their sizes are searched on the tuning pieces, starting from the values they were written
// with, which the hand-set planner keeps (handSetRules()).

namespace fitted {

constexpr int kHands = 2;
constexpr int kFingers = 5;
constexpr int kMaxInterval = 15;
constexpr int kIntervals = 2 * kMaxInterval + 1;
constexpr int kColourPairs = 4;  // first key black * 2 + second key black
// Time from the note before: up to a quarter note, or longer or after a rest.
constexpr int kGaps = 2;
constexpr int kChordSizes = 4;  // 2..5 notes
constexpr int kMaxSpan = 20;    // spans 1..kMaxSpan semitones
constexpr int kInner = 3;       // widest neighbouring gap at the bottom, in the middle, at the top
constexpr int kShapes = 10;     // at most C(5, n) rising finger sets
// Line ends: first note of a rising line, of a falling one; last note after a rise, a fall.
constexpr int kLineKinds = 4;

constexpr int kTransitionSize = kHands * kIntervals * kColourPairs * kGaps * kFingers * kFingers;
constexpr int kChordSize = kHands * kChordSizes * kMaxSpan * kColourPairs * kInner * kShapes;
constexpr int kStartSize = kHands * kLineKinds * 2 * kFingers;
constexpr int kFigureInterval = 7;
// An interval -7..+7, or none (a rest or the end), or a chord on that side.
constexpr int kFigureSides = 2 * kFigureInterval + 3;
constexpr int kFigureNone = 2 * kFigureInterval + 1;
constexpr int kFigureChord = 2 * kFigureInterval + 2;
constexpr int kFigureSize = kHands * kFigureSides * kFigureSides * 2 * kColourPairs * kFingers;
constexpr int kPlaceReach = 3;
constexpr int kPlaceMax = 12;
constexpr int kPlaceSteps = kPlaceMax + 1;
constexpr int kPlaceSize = kHands * kPlaceSteps * kPlaceSteps * 2 * kFingers;

enum Weight {
    kTransitionWeight,
    kChordWeight,
    kStartWeight,
    kHandSetBlend,  // share of the hand-set rules added to the fitted costs
    kConsistency,   // cost of leaving the fingering an identical earlier figure got
    kFigureWeight,
    kPlaceWeight,
    // The learning that corrects the counted tables afterwards (fitted_learning.h): how many
    // passes over the training pieces, and by how much a cell moves at each mistake (in the
    // planner's units, whatever the table's weight). Not read by the planner; kept here so that
    // the table says how it was made and the fit can make it again.
    kLearningPasses,
    kLearningStep,
    // How strongly the right hand's and the left hand's cells lean on both hands' counts (the
    // left hand mirrored): the prior count k in p_hand = (n_hand + k p_both) / (N_hand + k); 0
    // takes the smoothing for it, as every coarser level does. Read by the fit only.
    kPoolingRight,
    kPoolingLeft,
    // Runs of the learning averaged into one table, each over the pieces in orders of its own:
    // 0 or 1, one run as the passes' own orders give it. What the perceptron learns depends on
    // the order it sees the pieces in; the mean of several orders depends on it less.
    kLearningBags,
    // 1: each of those runs learns from its own resample of the pieces instead (as many, drawn
    // with replacement; the method-book lines in every one).
    kLearningResample,
    // The share by which every learned cell is drawn back towards its counted value before the
    // correction on the method-book lines: 0 keeps the learned table as it came out.
    kLearningPull,
    // Cost of leaving the fingering of an earlier figure that this one repeats moved to other
    // keys (the same colours, every key by the same interval): a sequence. The planner only
    // ever prefers a sequence's fingering, never holds it there; 0 leaves sequences alone.
    kSequence,
    kWeightCount
};

// The sizes of the planner's rules, in the units of its costs.
enum Rule {
    kRuleBlackThumb,  // a finger on a black key, by finger, for a single note
    kRuleBlackIndex,
    kRuleBlackMiddle,
    kRuleBlackRing,
    kRuleBlackLittle,
    kRuleThumbBlackInChord,  // the thumb on a black key in a chord, where the chord may need it
    kRuleRingFinger,         // the ring finger where another would do
    kRuleLineEnd,            // a line beginning or ending on another finger than its outer one
    kRuleCrossIndex,         // the thumb passing under (or a finger over it), by finger
    kRuleCrossMiddle,
    kRuleCrossRing,
    kRuleCrossStep,     // each semitone of a crossing beyond the first
    kRuleThumbClimb,    // the thumb passing onto a black key from a white one
    kRuleRepeatChange,  // a repeated key struck with another finger
    kRuleStretch,       // each semitone a pair of fingers is cramped or stretched
    kRuleStrain,        // each semitone beyond a comfortable stretch
    kRuleChordSpan,     // how much more a chord's spans weigh than a succession's
    kRuleBookChord,     // a chord fingered otherwise than the method books
    kRuleLeapTravel,    // each semitone the hand travels across a leap
    // The index and the middle finger on a black key for a single note away from chromatic
    // steps (the rules above hold within them, as in the books' chromatic scale).
    kRuleBlackIndexWide,
    kRuleBlackMiddleWide,
    // The hand's place (where the thumb would sit) moving by more than a whole tone where the
    // thumb passes under or a finger over it on a third or wider, per semitone beyond, in the
    // right and in the left hand.
    kRuleShiftRight,
    kRuleShiftLeft,
    kRuleCount
};
using Rules = std::array<float, kRuleCount>;

// The rules as they were written by hand.
const Rules& handSetRules();

inline int transitionIndex(int hand, int interval, int colours, int gap, int from, int to) {
    const int i = interval < -kMaxInterval  ? 0
                  : interval > kMaxInterval ? kIntervals - 1
                                            : interval + kMaxInterval;
    return ((((hand * kIntervals + i) * kColourPairs + colours) * kGaps + gap) * kFingers + from) *
               kFingers +
           to;
}

// n = 2..5 notes, span >= 1.
inline int chordIndex(int hand, int n, int span, int colours, int inner, int shape) {
    const int s = (span < 1 ? 1 : span > kMaxSpan ? kMaxSpan : span) - 1;
    return ((((hand * kChordSizes + (n - 2)) * kMaxSpan + s) * kColourPairs + colours) * kInner +
            inner) *
               kShapes +
           shape;
}

inline int startIndex(int hand, int kind, bool black, int finger) {
    return ((hand * kLineKinds + kind) * 2 + (black ? 1 : 0)) * kFingers + finger;
}

// A side of a figure: an interval (clamped), or kFigureNone / kFigureChord.
inline int figureSide(int interval) {
    return (interval < -kFigureInterval  ? -kFigureInterval
            : interval > kFigureInterval ? kFigureInterval
                                         : interval) +
           kFigureInterval;
}

// neighbours: the note before black * 2 + the note after black (a rest or a chord: white).
inline int figureIndex(int hand, int before, int after, bool black, int neighbours, int finger) {
    return ((((hand * kFigureSides + before) * kFigureSides + after) * 2 + (black ? 1 : 0)) *
                kColourPairs +
            neighbours) *
               kFingers +
           finger;
}

// above, below: semitones from the lowest key around up to the note and from it up to the highest.
inline int placeIndex(int hand, int above, int below, bool black, int finger) {
    auto clamp = [](int v) { return v < 0 ? 0 : v > kPlaceMax ? kPlaceMax : v; };
    return (((hand * kPlaceSteps + clamp(above)) * kPlaceSteps + clamp(below)) * 2 +
            (black ? 1 : 0)) *
               kFingers +
           finger;
}

// Number of rising finger sets of n fingers: C(5, n).
int shapeCount(int n);

struct Costs {
    std::array<float, kWeightCount> weight;
    std::array<float, kTransitionSize> transition;
    std::array<float, kChordSize> chord;
    std::array<float, kStartSize> start;
    std::array<float, kFigureSize> figure;
    std::array<float, kPlaceSize> place;
    Rules rule;
};

// Weighted counts at the full contexts above; the fit marginalises them for its back-off.
struct Counts {
    std::vector<double> transition = std::vector<double>(kTransitionSize, 0.0);
    std::vector<double> chord = std::vector<double>(kChordSize, 0.0);
    std::vector<double> start = std::vector<double>(kStartSize, 0.0);
    std::vector<double> figure = std::vector<double>(kFigureSize, 0.0);
    std::vector<double> place = std::vector<double>(kPlaceSize, 0.0);
};

// The table compiled into the program.
const Costs& embeddedCosts();

// Smoothed negative log-probabilities from counts: each context's distribution is its counts
// plus `smoothing` times the distribution of the coarser context it backs off to (the same
// without hand, then without time, colours, and with the interval or span coarsened), down to
// the uniform one; the last step, from both hands to one, by weights[kPoolingRight] and
// weights[kPoolingLeft] instead where they are above 0. Weights and rules are copied from `weights`
// and `rules`.
Costs fitCosts(const Counts& counts, double smoothing,
               const std::array<float, kWeightCount>& weights, const Rules& rules);

// The tables' text. The refit writes it (tools/fingering_fit.cpp, by the output rule every
// writer of the project follows); the core only makes it, so it touches no file.
// printf onto the end of `text`, whatever the length.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void appendf(std::string* text, const char* format, ...);
// `header` as the comment lines that open every table file.
std::string tableHeader(const std::vector<std::string>& header);
// `costs` as the compiled-in table (data/fingering/fitted_costs.inc): `header` lines as
// comments, then the numbers.
std::string costsText(const std::vector<std::string>& header, const Costs& costs);

}  // namespace fitted
