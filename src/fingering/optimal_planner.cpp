#include "fingering/optimal_planner.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <unordered_map>

#include "animation/animation.h"
#include "fingering/fitted_costs.h"
#include "fingering/fitted_second.h"
#include "fingering/planner.h"
#include "geometry/hand_model.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

// Sections: the hand-set cost table (with the method books' chords); notes as the planner sees
// them; the hand-set costs; the fitted costs; the dynamic programme and the consistency of
// repeated figures, repeated measures and the octaves of a scale; the hand's centres and writing
// the grids (and marking line ends, figures and book chords); counting fingerings for the fit;
// the hand model's reach.

namespace {

constexpr int kFingers = 5;
constexpr int kThumb = 0;

// ---- The cost table. Fingers are 0 thumb .. 4 little; intervals are in semitones. ----
//
// Both hands are planned by one model of the right hand: the left hand's keys are mirrored
// about D (the black keys lie symmetrically around it), so that its thumb, too, plays the lower
// key of a pair, a rising line in the left hand is planned like a falling one in the right, and
// its chords are fingered from the top down.

// Spans between two fingers of one hand, from the lower finger's key up to the higher finger's:
// the relaxed range costs nothing, every semitone below it (cramped) or above it (stretched)
// costs the stretch rule, every semitone beyond the comfortable maximum the strain rule more,
// and a span beyond the practical maximum cannot be held by the hand: the hand has to move
// (kLeap). A span is not cramped when its lower key is white and its upper key black: the finger on
// the black key plays further in along the keys, beside the other rather than against it.
struct SpanLimits {
    int minRelaxed;
    int maxRelaxed;
    int maxComfortable;
    int maxPractical;
};
constexpr SpanLimits kSpans[kFingers][kFingers] = {
    // lower finger: thumb, with index, middle, ring, little
    {{}, {1, 5, 8, 10}, {3, 7, 10, 12}, {5, 9, 12, 14}, {7, 10, 13, 15}},
    // index, with middle, ring, little
    {{}, {}, {1, 2, 4, 5}, {3, 4, 6, 7}, {5, 6, 8, 10}},
    // middle, with ring, little
    {{}, {}, {}, {1, 2, 3, 4}, {3, 4, 6, 7}},
    // ring, with little
    {{}, {}, {}, {}, {1, 2, 3, 5}},
    {},
};
// A move the hand cannot make from where it is: a span beyond the practical one, or the same
// finger going straight on to another key. The hand lifts and moves.
constexpr double kLeap = 8.0;

// Passing the thumb under a finger, or a finger over the thumb, to a key on the far side of it:
// the base cost by finger (the middle finger crosses most easily, the little finger never),
// plus the crossing-step rule for every semitone beyond the first, plus kLeap beyond kCrossMax.
// (The base costs of the index, middle and ring fingers are rules the fit sets; the little
// finger's is fixed.)
constexpr double kCrossLittle = 14.0;
constexpr int kCrossMax[kFingers] = {0, 3, 5, 5, 0};
// The thumb passing onto a black key from a finger on a white one has to climb: costly (the
// thumb-climb rule).
// A finger on a black key lifts the hand, which makes room for the thumb to pass under it onto
// a white key (or for the finger to pass over onto the black key): cheaper.
constexpr double kCrossFromBlack = 1.0;
// Two fingers other than the thumb crossing each other.
constexpr double kFingersCross = 8.0;

// A key struck with a finger on a black key: the short thumb lands badly on one, the little
// finger less so and the index finger little; the long middle finger takes black keys freely,
// the ring finger nearly. (Editors put the index on black keys about twice as often as equal
// costs for index and little finger did.) These are rules (fitted::kRuleBlackThumb ..), and the
// thumb in a chord has its own, since a chord may leave no other way. The ring finger, the least
// independent one, is used where another does as well (fitted::kRuleRingFinger).

// A line (single notes after a rest or at the start) begins on the finger that leaves the whole
// hand for the way it goes: the thumb when it rises, the little finger when it falls; and it ends
// before a rest on the outer finger it runs towards. Another finger there costs the line-end rule.

// The same key struck again: with the same finger free, with another finger a little effort
// (the repeat rule).
// A held note moving to another finger while it sounds (a silent substitution).
constexpr double kSubstitution = 8.0;
// The spans of a chord are held all at once: they weigh more than those between successive notes
// (the chord-span rule).
// A chord whose keys the hand model cannot reach together with these fingers.
constexpr double kOutOfReach = 10.0;
// A note away from its printed finger: only when the notes around it leave no other way.
constexpr double kPrintedMissed = 1000.0;

// Chords of three to five keys struck together over a fifth or more (up to what thumb and little
// finger hold) are fingered as the method books teach them: the thumb and the little finger on
// the outer keys; in a triad the middle finger inside, the index when a fourth or more lies above
// (E-G-C: 1-2-5), the ring finger when only a second does; in a four-key chord the index on the
// second key and the middle finger on the third, the ring finger when a major third or a second
// lies above it (E-G-C-E: 1-2-4-5). Any other fingering of such a chord costs the book-chord rule,
// more than the spans and black keys that could tip it, less than a hand lifted between chords.
constexpr int kBookChordSpan = 6;
constexpr int kBookChordMaxSpan = 15;

// Where each finger sits in a relaxed hand, from the centre towards the little finger (scene
// units, right hand): on five neighbouring white keys with the middle finger at the centre.
constexpr float kWhiteKeyStep = 0.315f;
constexpr float kRelaxedOffset[kFingers] = {-2 * kWhiteKeyStep, -kWhiteKeyStep, 0.0f, kWhiteKeyStep,
                                            2 * kWhiteKeyStep};
// Weights of the neighbouring onsets when the hand's path is smoothed: the hand starts moving
// before a thumb passes under instead of jumping when it lands.
constexpr float kSmoothing[] = {1.0f, 2.0f, 3.0f, 2.0f, 1.0f};
constexpr int kSmoothingReach = 2;
constexpr int kSmoothingPasses = 4;
// Kept off the exact edge of a reach interval, so that rounding cannot tip a target over it.
constexpr float kReachMargin = 0.01f;

// Keys mirror about D4 (key 41) for the left hand.
constexpr int32_t kMirrorSum = 82;

// The travel steps in which a fingertip follows its key down (kTravelRise each, from the
// animation's press drop) before the key is fully down.
constexpr int kTravelSteps = 3;

// ---- Notes as the planner sees them ----

// One sounding note at an onset.
struct Entry {
    int32_t key;   // 0..87
    int32_t pos;   // key in the planning direction (mirrored for the left hand)
    bool black;    // on a black key
    bool struck;   // starts at this onset (otherwise held on from the onset before)
    int printed;   // printed finger 0..4, or -1
    int previous;  // index of the same note in the onset before, or -1 when struck
};

// Every key sounding at a tick where at least one note starts, sorted by pos.
struct Onset {
    int32_t tick;
    int count;
    Entry entry[kSlotCount];
    unsigned carried;  // bit i: entry i of the onset before goes on sounding here
    bool afterRest;    // the hand was silent in the tick before (or this is the first tick)
    int lineEnd;       // finger a line's first or last note would take here, or -1
    int lineKind;      // line end as the fitted table counts it (fitted::kLineKinds), or -1
    int gap;           // time since the onset before, as the fitted table buckets it
    int figure;        // a single struck note's figure in the fitted table (finger 0), or -1
    int place;         // a single struck note's place among the keys around it (finger 0), or -1
    int placeEntry;    // the entry of that note
    bool bookChord;    // a chord the method books finger one way, the fingers in `book`
    uint8_t book[kFingers];
    bool chromatic;  // a single note a semitone from the single note before or after it
};

// Which costs a planning uses: the fitted table (blended with the hand-set rules by its
// weights), or the hand-set rules alone when `fitted` is null.
struct Model {
    const fitted::Costs* fitted;
    const fitted::Rules* rules;                 // the fitted table's, or the hand-set ones
    const std::vector<int32_t>* measureStarts;  // rising first ticks of the measures, or none
    const fitted::SecondOrder* second;          // the second-order costs, or none
};

// Transitions evaluated by the last planning.
size_t plannerSteps = 0;
// Second-order costs (a note's finger given the two before it) evaluated by the last planning.
size_t secondOrderSteps = 0;

// Fingers of one assignment, by entry; strictly rising, so chords run across the hand.
struct Assignment {
    uint8_t finger[kFingers];
};

// Every rising assignment of n fingers, n = 0..5 (C(5, n) of them, at most ten).
struct AssignmentTable {
    std::vector<Assignment> byCount[kFingers + 1];
    AssignmentTable() {
        for (unsigned mask = 0; mask < (1u << kFingers); ++mask) {
            Assignment a{};
            int n = 0;
            for (int f = 0; f < kFingers; ++f) {
                if (mask & (1u << f)) {
                    a.finger[n++] = static_cast<uint8_t>(f);
                }
            }
            byCount[n].push_back(a);
        }
    }
};
const AssignmentTable kAssignments;
constexpr size_t kMaxStates = 10;

struct HandSetup {
    int hand;  // 0 right, 1 left
    std::vector<NoteEvent>* grid;
    HandPlan* plan;
    std::vector<int32_t>* fallbackTicks;
    float restX;
    ReachInterval reach[kFingers][2];  // by finger, white / black
};

bool isKey(int32_t key) {
    return key >= 0 && key < kKeyCount;
}

bool holdsOn(const NoteEvent& before, int32_t key) {
    for (const NoteSlot& slot : before.slot) {
        if (slot.key == key && slot.lastTick == 0) {
            return true;
        }
    }
    return false;
}

// The onsets of a grid: every tick where a note starts, with all notes sounding there.
std::vector<Onset> collectOnsets(const std::vector<NoteEvent>& grid, int hand) {
    std::vector<Onset> onsets;
    for (size_t t = 0; t < grid.size(); ++t) {
        Onset onset{};
        onset.tick = static_cast<int32_t>(t);
        onset.lineEnd = -1;
        onset.lineKind = -1;
        onset.figure = -1;
        onset.place = -1;
        onset.placeEntry = 0;
        onset.chromatic = false;
        onset.afterRest = true;
        for (int k = 0; k < kSlotCount && t > 0; ++k) {
            onset.afterRest = onset.afterRest && !isKey(grid[t - 1].slot[k].key);
        }
        bool starts = false;
        for (const NoteSlot& slot : grid[t].slot) {
            if (!isKey(slot.key)) {
                continue;
            }
            Entry& e = onset.entry[onset.count++];
            e.key = slot.key;
            e.pos = hand == 0 ? slot.key : kMirrorSum - slot.key;
            e.black = isBlackKey(slot.key);
            e.struck = t == 0 || !holdsOn(grid[t - 1], slot.key);
            e.printed = -1;
            e.previous = -1;
            starts = starts || e.struck;
        }
        if (!starts) {
            continue;
        }
        std::stable_sort(onset.entry, onset.entry + onset.count,
                         [](const Entry& a, const Entry& b) { return a.pos < b.pos; });
        if (!onsets.empty()) {
            Onset& before = onsets.back();
            for (int i = 0; i < onset.count; ++i) {
                Entry& e = onset.entry[i];
                for (int j = 0; j < before.count && !e.struck; ++j) {
                    if (before.entry[j].key == e.key && !(onset.carried & (1u << j))) {
                        e.previous = j;
                        onset.carried |= 1u << j;
                        break;
                    }
                }
                // A note held from before the onset before cannot happen; strike it if it does.
                e.struck = e.struck || e.previous < 0;
            }
        } else {
            for (int i = 0; i < onset.count; ++i) {
                onset.entry[i].struck = true;
            }
        }
        if (onset.afterRest || onsets.empty()) {
            onset.gap = fitted::kGaps - 1;
        } else {
            const int32_t ticks = onset.tick - onsets.back().tick;
            onset.gap = divisions > 0 && ticks > divisions ? 1 : 0;
        }
        onsets.push_back(onset);
    }
    return onsets;
}

void applyPrinted(std::vector<Onset>& onsets, int hand, const std::vector<PrintedFinger>& printed) {
    for (const PrintedFinger& p : printed) {
        if (p.hand != hand || p.finger < 0 || p.finger >= kFingers) {
            continue;
        }
        auto it = std::lower_bound(onsets.begin(), onsets.end(), p.tick,
                                   [](const Onset& o, int32_t tick) { return o.tick < tick; });
        if (it == onsets.end() || it->tick != p.tick) {
            continue;
        }
        for (int i = 0; i < it->count; ++i) {
            Entry& e = it->entry[i];
            if (e.key == p.key && e.struck && e.printed < 0) {
                e.printed = p.finger;
                break;
            }
        }
    }
}

// Span cost of fingers lower < higher on keys lowNote and highNote, `span` = highNote.pos -
// lowNote.pos semitones apart (span >= 1 for two different keys).
double spanCost(const fitted::Rules& r, int lower, int higher, const Entry& lowNote,
                const Entry& highNote) {
    const SpanLimits& s = kSpans[lower][higher];
    const int span = highNote.pos - lowNote.pos;
    if (span < 1 || span > s.maxPractical) {
        return kLeap;
    }
    double cost = 0.0;
    if (span < s.minRelaxed && !(highNote.black && !lowNote.black)) {
        cost += r[fitted::kRuleStretch] * (s.minRelaxed - span);
    }
    if (span > s.maxRelaxed) {
        cost += r[fitted::kRuleStretch] * (span - s.maxRelaxed);
    }
    if (span > s.maxComfortable) {
        cost += r[fitted::kRuleStrain] * (span - s.maxComfortable);
    }
    return cost;
}

// Where a finger sits in a relaxed hand, in semitones from the thumb (on C D E F G).
constexpr int kRelaxedSemitone[kFingers] = {0, 2, 4, 5, 7};

// Semitones the hand travels when the note b is taken with finger fb after a with fa: how far
// the relaxed hand over the second note lies from the relaxed hand over the first.
int handTravel(const Entry& a, int fa, const Entry& b, int fb) {
    return std::abs((b.pos - kRelaxedSemitone[fb]) - (a.pos - kRelaxedSemitone[fa]));
}

// Cost of playing b with finger fb right after a with finger fa. Where the hand has to lift and
// move (a leap), each semitone it travels costs the leap-travel rule more, so that the finger
// before a leap leaves the hand where the leap is short and the finger after it lands the hand
// where the music goes on.
double successionCost(const fitted::Rules& r, const Entry& a, int fa, const Entry& b, int fb) {
    const double travel = r[fitted::kRuleLeapTravel] * handTravel(a, fa, b, fb);
    // Beyond what thumb and little finger span, the hand lifts whichever fingers it uses: the
    // fingers' order no longer matters, only where the hand lands. (The hand-set rules, without
    // the travel rule, cost such a leap as the crossing or span it would be on near keys.)
    if (travel > 0.0 && std::abs(b.pos - a.pos) > kSpans[kThumb][kFingers - 1].maxPractical) {
        return kLeap + travel;
    }
    if (fa == fb) {
        return a.pos == b.pos ? 0.0 : kLeap + travel;
    }
    if (a.pos == b.pos) {
        return r[fitted::kRuleRepeatChange];
    }
    const bool aLower = fa < fb;
    const int lower = aLower ? fa : fb;
    const int higher = aLower ? fb : fa;
    const Entry& lowerNote = aLower ? a : b;
    const Entry& higherNote = aLower ? b : a;
    const int span = higherNote.pos - lowerNote.pos;
    if (span > 0) {
        const double cost = spanCost(r, lower, higher, lowerNote, higherNote);
        return span > kSpans[lower][higher].maxPractical ? cost + travel : cost;
    }
    if (lower != kThumb) {
        return kFingersCross;
    }
    // The thumb on the far side of a finger: passing under it, or the finger passing over.
    const int distance = -span;
    const double base = higher == 1   ? r[fitted::kRuleCrossIndex]
                        : higher == 2 ? r[fitted::kRuleCrossMiddle]
                        : higher == 3 ? r[fitted::kRuleCrossRing]
                                      : kCrossLittle;
    double cost = base + r[fitted::kRuleCrossStep] * (distance - 1);
    if (distance > kCrossMax[higher]) {
        cost += kLeap + travel;
    }
    if (lowerNote.black && !higherNote.black) {
        cost += r[fitted::kRuleThumbClimb];
    } else if (higherNote.black && !lowerNote.black) {
        cost -= kCrossFromBlack;
    }
    return cost;
}

// Where the fingers' order goes against the keys' (the thumb passing under a finger, a finger
// over the thumb) on a third or wider, the hand's place (where the thumb would sit) moves by the
// interval and the fingers' distance together; beyond a whole tone every semitone of that move
// costs the hand's shift rule (nothing in the hand-set rules). Editors cross less often over
// wide intervals than the rules shared by both hands let the planner, in the left hand most; on
// steps the rule is left out, where the books' scales cross as they do.
constexpr int kShiftFree = 2;
constexpr int kShiftLeastInterval = 3;

double shiftCost(const fitted::Rules& r, int hand, const Entry& a, int fa, const Entry& b, int fb) {
    const float size = r[hand == 0 ? fitted::kRuleShiftRight : fitted::kRuleShiftLeft];
    const bool crossing = fa != fb && a.pos != b.pos && (b.pos > a.pos) != (fb > fa);
    if (size <= 0.0f || !crossing || std::abs(b.pos - a.pos) < kShiftLeastInterval) {
        return 0.0;
    }
    const int travel = handTravel(a, fa, b, fb);
    return travel > kShiftFree ? size * (travel - kShiftFree) : 0.0;
}

// Interval of hand centres from which every note of the onset is within its finger's reach;
// low > high when there is none.
ReachInterval centreRange(const HandSetup& setup, const Onset& onset, const uint8_t* finger) {
    ReachInterval range{-std::numeric_limits<float>::max(), std::numeric_limits<float>::max()};
    for (int i = 0; i < onset.count; ++i) {
        const Entry& e = onset.entry[i];
        const ReachInterval& r = setup.reach[finger[i]][e.black ? 1 : 0];
        const float x = KeyLayout[e.key].x;
        range.low = std::max(range.low, x - r.high);
        range.high = std::min(range.high, x - r.low);
    }
    return range;
}

// Two keys a fourth or more apart struck together are not held by the thumb and the index:
// editors take them with an outer finger (in the training pieces 1 of the 184 such two-key
// chords, against 31 of the 245 thirds), and in the picture the index turned
// across to the far key passes through its free neighbour's knuckle. Such a fingering costs as
// much as leaving the books' fingering of a wider chord.
constexpr int kThumbIndexChordSpan = 5;

bool wideThumbAndIndex(const Onset& onset, const Assignment& a) {
    return onset.count == 2 && onset.entry[0].struck && onset.entry[1].struck &&
           a.finger[0] == kThumb && a.finger[1] == 1 &&
           onset.entry[1].pos - onset.entry[0].pos >= kThumbIndexChordSpan;
}

// Hand-set cost of one onset with one assignment on its own: its chord spans, black keys and
// line ends.
double handSetOnsetCost(const fitted::Rules& r, const Onset& onset, const Assignment& a) {
    double cost = 0.0;
    for (int i = 0; i < onset.count; ++i) {
        const Entry& e = onset.entry[i];
        for (int j = i + 1; j < onset.count; ++j) {
            cost += r[fitted::kRuleChordSpan] *
                    spanCost(r, a.finger[i], a.finger[j], e, onset.entry[j]);
        }
        if (e.struck && e.black) {
            const int finger = a.finger[i];
            // Away from chromatic steps editors take black keys with the index finger more than
            // the books' chromatic scale, which keeps the middle finger on them, would suggest.
            const bool wide = onset.count == 1 && !onset.chromatic;
            cost += finger == kThumb && onset.count > 1 ? r[fitted::kRuleThumbBlackInChord]
                    : wide && finger == 1               ? r[fitted::kRuleBlackIndexWide]
                    : wide && finger == 2               ? r[fitted::kRuleBlackMiddleWide]
                                                        : r[fitted::kRuleBlackThumb + finger];
        }
        if (e.struck && a.finger[i] == 3) {
            cost += r[fitted::kRuleRingFinger];
        }
    }
    if (onset.lineEnd >= 0 && a.finger[0] != onset.lineEnd) {
        cost += r[fitted::kRuleLineEnd];
    }
    if (onset.bookChord && !std::equal(onset.book, onset.book + onset.count, a.finger)) {
        cost += r[fitted::kRuleBookChord];
    }
    if (wideThumbAndIndex(onset, a)) {
        cost += r[fitted::kRuleBookChord];
    }
    return cost;
}

// ---- The fitted costs ----

// Where the widest gap between neighbouring keys of a chord lies: 0 at the bottom, 1 in the
// middle (or two gaps within a semitone of each other in a three-note chord), 2 at the top.
int widestGap(const Onset& onset) {
    const int n = onset.count;
    if (n < 3) {
        return 0;
    }
    int widest = 0;
    for (int i = 1; i + 1 < n; ++i) {
        if (onset.entry[i + 1].pos - onset.entry[i].pos >
            onset.entry[widest + 1].pos - onset.entry[widest].pos) {
            widest = i;
        }
    }
    if (n == 3) {
        const int lower = onset.entry[1].pos - onset.entry[0].pos;
        const int upper = onset.entry[2].pos - onset.entry[1].pos;
        return std::abs(lower - upper) <= 1 ? 1 : lower > upper ? 0 : 2;
    }
    return widest == 0 ? 0 : widest == n - 2 ? 2 : 1;
}

int colours(const Entry& first, const Entry& second) {
    return (first.black ? 2 : 0) + (second.black ? 1 : 0);
}

int chordIndexOf(int hand, const Onset& onset, int shape) {
    const Entry& low = onset.entry[0];
    const Entry& high = onset.entry[onset.count - 1];
    return fitted::chordIndex(hand, onset.count, high.pos - low.pos, colours(low, high),
                              widestGap(onset), shape);
}

int transitionIndexOf(int hand, const Entry& a, int fa, const Entry& b, int fb, int gap) {
    return fitted::transitionIndex(hand, b.pos - a.pos, colours(a, b), gap, fa, fb);
}

// Fitted cost of one onset with the assignment `shape` (its index among the rising sets of its
// number of fingers): the chord's shape and the line end, blended with the hand-set rules.
double fittedOnsetCost(const fitted::Costs& costs, int hand, const Onset& onset,
                       const Assignment& a, size_t shape) {
    double cost = 0.0;
    if (onset.count >= 2 && onset.count <= kFingers) {
        cost += costs.weight[fitted::kChordWeight] *
                costs.chord[chordIndexOf(hand, onset, static_cast<int>(shape))];
    }
    if (onset.lineKind >= 0) {
        cost +=
            costs.weight[fitted::kStartWeight] *
            costs
                .start[fitted::startIndex(hand, onset.lineKind, onset.entry[0].black, a.finger[0])];
    }
    if (onset.figure >= 0) {
        cost += costs.weight[fitted::kFigureWeight] * costs.figure[onset.figure + a.finger[0]];
    }
    if (onset.place >= 0) {
        cost += costs.weight[fitted::kPlaceWeight] *
                costs.place[onset.place + a.finger[onset.placeEntry]];
    }
    const float blend = costs.weight[fitted::kHandSetBlend];
    return blend > 0.0f ? cost + blend * handSetOnsetCost(costs.rule, onset, a) : cost;
}

// Cost of one onset with one assignment on its own: the model's cost, the printed fingers and
// the hand's reach.
double onsetCost(const Model& model, const HandSetup& setup, const Onset& onset,
                 const Assignment& a, size_t shape) {
    double cost = model.fitted ? fittedOnsetCost(*model.fitted, setup.hand, onset, a, shape)
                               : handSetOnsetCost(*model.rules, onset, a);
    for (int i = 0; i < onset.count; ++i) {
        const Entry& e = onset.entry[i];
        if (e.printed >= 0 && e.printed != a.finger[i]) {
            cost += kPrintedMissed;
        }
    }
    const ReachInterval range = centreRange(setup, onset, a.finger);
    if (range.low > range.high) {
        cost += kOutOfReach;
    }
    return cost;
}

// Cost of going from onset `before` under assignment `a` to onset `now` under `b`: a held note
// changing finger, and the mean cost of the successions from the notes let go to those struck.
double moveCost(const Model& model, int hand, const Onset& before, const Assignment& a,
                const Onset& now, const Assignment& b) {
    ++plannerSteps;
    double cost = 0.0;
    double succession = 0.0;
    int pairs = 0;
    for (int i = 0; i < now.count; ++i) {
        const Entry& e = now.entry[i];
        if (!e.struck) {
            if (a.finger[e.previous] != b.finger[i]) {
                cost += kSubstitution;
            }
            continue;
        }
        for (int j = 0; j < before.count; ++j) {
            if (now.carried & (1u << j)) {
                continue;  // still sounding: counted with the chord
            }
            const Entry& from = before.entry[j];
            if (model.fitted == nullptr) {
                succession += successionCost(*model.rules, from, a.finger[j], e, b.finger[i]);
            } else {
                const fitted::Costs& costs = *model.fitted;
                const float blend = costs.weight[fitted::kHandSetBlend];
                succession += costs.weight[fitted::kTransitionWeight] *
                              costs.transition[transitionIndexOf(hand, from, a.finger[j], e,
                                                                 b.finger[i], now.gap)];
                if (blend > 0.0f) {
                    succession +=
                        blend * successionCost(*model.rules, from, a.finger[j], e, b.finger[i]);
                }
                succession += shiftCost(*model.rules, hand, from, a.finger[j], e, b.finger[i]);
            }
            ++pairs;
        }
    }
    return pairs > 0 ? cost + succession / pairs : cost;
}

// ---- The dynamic programme ----

// Whether the note struck at onset s has a second-order cost: s and the two onsets before it
// are each a single struck note, with no rest between them (a line of single notes).
bool lineOfThree(const std::vector<Onset>& onsets, size_t s) {
    if (s < 2 || onsets[s].afterRest || onsets[s - 1].afterRest) {
        return false;
    }
    for (size_t at = s - 2; at <= s; ++at) {
        if (onsets[at].count != 1 || !onsets[at].entry[0].struck) {
            return false;
        }
    }
    return true;
}

// The second-order cell of onset s (a line of three, see above) played with `finger` after
// `oneBack` and `twoBack` on the two notes before.
int secondCell(int hand, const std::vector<Onset>& onsets, size_t s, int twoBack, int oneBack,
               int finger) {
    const Entry& a = onsets[s - 2].entry[0];
    const Entry& b = onsets[s - 1].entry[0];
    const Entry& c = onsets[s].entry[0];
    return fitted::secondIndex(hand, twoBack, oneBack, b.pos - a.pos, c.pos - b.pos, colours(b, c),
                               finger);
}

// The dynamic programme: the cheapest assignment of every onset (its index among the rising sets
// of its size), given each onset's cost and the cost of each move between neighbours. An onset
// with a preferred assignment (>= 0) pays `penalty` for any other.
// Its state is the assignment of the onset and that of the onset before, so that a line's note
// can pay for its finger given the fingers of the two notes before it (the second-order costs).
// Where that cost does not apply (chords, held notes, after a rest) the onset two back does not
// matter and only the cheapest way into each state of the onset before is taken on: the work is
// the moves between neighbours as before, plus five by five by five finger triples per note of
// a line, linear in the number of notes either way.
std::vector<uint8_t> chooseStates(const Model& model, const HandSetup& setup,
                                  const std::vector<Onset>& onsets,
                                  const std::vector<int>& preferred,
                                  const std::vector<double>& penalty) {
    constexpr size_t K = kMaxStates;
    const size_t n = onsets.size();
    // from[(s * K + b) * K + a]: the assignment of onset s - 2 on the cheapest way to b at s
    // after a at s - 1.
    std::vector<uint8_t> from(n * K * K, 0);
    // previous / current[b * K + a]: the cheapest plan up to the onset with b there, a before.
    double previous[K * K];
    double current[K * K];
    // The same without the onset's own cost: a state's cheapest way in is chosen by it, as a
    // programme over one onset at a time would, so rounding never tips a tie another way.
    double reachedBefore[K * K];
    double reached[K * K];
    size_t beforeCount = 1;  // states of the onset before, and of the one before that
    size_t twoBackCount = 1;
    for (size_t s = 0; s < n; ++s) {
        const std::vector<Assignment>& states = kAssignments.byCount[onsets[s].count];
        const std::vector<Assignment>& before =
            kAssignments.byCount[s > 0 ? onsets[s - 1].count : 0];
        const bool second = model.second != nullptr && lineOfThree(onsets, s);
        // The cheapest way into each state a of the onset before, whatever came two back.
        double into[K];
        uint8_t intoFrom[K];
        for (size_t a = 0; a < beforeCount; ++a) {
            into[a] = 0.0;
            intoFrom[a] = 0;
            if (s == 0) {
                continue;
            }
            double least = std::numeric_limits<double>::max();
            for (size_t z = 0; z < twoBackCount; ++z) {
                if (reachedBefore[a * K + z] < least) {
                    least = reachedBefore[a * K + z];
                    intoFrom[a] = static_cast<uint8_t>(z);
                }
            }
            into[a] = previous[a * K + intoFrom[a]];
        }
        for (size_t b = 0; b < states.size(); ++b) {
            const double here = onsetCost(model, setup, onsets[s], states[b], b);
            for (size_t a = 0; a < beforeCount; ++a) {
                double best = into[a];
                uint8_t bestFrom = intoFrom[a];
                if (s > 0) {
                    const double move =
                        moveCost(model, setup.hand, onsets[s - 1], before[a], onsets[s], states[b]);
                    best += move;
                    if (second) {
                        const fitted::SecondOrder& table = *model.second;
                        const std::vector<Assignment>& single = kAssignments.byCount[1];
                        best = std::numeric_limits<double>::max();
                        for (size_t z = 0; z < twoBackCount; ++z) {
                            ++secondOrderSteps;
                            const int cell = secondCell(setup.hand, onsets, s, single[z].finger[0],
                                                        before[a].finger[0], states[b].finger[0]);
                            const double c =
                                previous[a * K + z] + move + table.weight * table.cost[cell];
                            if (c < best) {
                                best = c;
                                bestFrom = static_cast<uint8_t>(z);
                            }
                        }
                    }
                }
                double cost = best + here;
                if (!preferred.empty() && preferred[s] >= 0 &&
                    preferred[s] != static_cast<int>(b)) {
                    cost += penalty[s];
                }
                current[b * K + a] = cost;
                reached[b * K + a] = best;
                from[(s * K + b) * K + a] = bestFrom;
            }
        }
        std::copy(current, current + K * K, previous);
        std::copy(reached, reached + K * K, reachedBefore);
        twoBackCount = beforeCount;
        beforeCount = states.size();
    }
    std::vector<uint8_t> chosen(n);
    if (n == 0) {
        return chosen;
    }
    // The cheapest last state, and back through the onsets: the states of s and s - 1 give that
    // of s - 2.
    size_t lastB = 0, lastA = 0;
    double least = std::numeric_limits<double>::max();
    for (size_t b = 0; b < beforeCount; ++b) {
        size_t a = 0;
        for (size_t other = 1; other < twoBackCount; ++other) {
            a = reached[b * K + other] < reached[b * K + a] ? other : a;
        }
        if (previous[b * K + a] < least) {
            least = previous[b * K + a];
            lastB = b;
            lastA = a;
        }
    }
    chosen[n - 1] = static_cast<uint8_t>(lastB);
    if (n > 1) {
        chosen[n - 2] = static_cast<uint8_t>(lastA);
    }
    for (size_t s = n - 1; s >= 2; --s) {
        chosen[s - 2] = from[(s * K + chosen[s]) * K + chosen[s - 1]];
    }
    return chosen;
}

// Onsets on either side that make up the figure an onset belongs to.
constexpr int kFigureReach = 4;
// Passes of the programme that carry an identical figure's fingering to its repeats.
constexpr int kConsistencyPasses = 3;
// In the last of them, the cost of a repeat fingered otherwise than its first occurrence: above
// anything but a printed finger, which still wins.
constexpr double kRepeatHeld = 100.0;

// A figure is read as a string of numbers, so that identical figures find each other in a hash
// map: one number appended.
void appendValue(std::string& figure, int32_t v) {
    figure.append(reinterpret_cast<const char*>(&v), 4);
}

// Appends the onsets within `reach` of onset s: each one's time from it, its count of notes and
// whether a rest came before it, and every note's `code(entry)` (the key or its distance from a
// base key, and whether it is struck); -1 for each place beyond either end of the hand's onsets.
template <typename Code>
void appendFigure(std::string& figure, const std::vector<Onset>& onsets, long s, int reach,
                  Code code) {
    const long n = static_cast<long>(onsets.size());
    for (long at = s - reach; at <= s + reach; ++at) {
        if (at < 0 || at >= n) {
            appendValue(figure, -1);
            continue;
        }
        const Onset& o = onsets[at];
        appendValue(figure, o.tick - onsets[s].tick);
        appendValue(figure, o.count * 2 + (o.afterRest ? 1 : 0));
        for (int i = 0; i < o.count; ++i) {
            appendValue(figure, code(o.entry[i]));
        }
    }
}

// For every onset, the first earlier onset with the same figure (the same keys, held or struck,
// at the same times relative to it, over kFigureReach onsets on either side), or -1.
std::vector<int> figureReferences(const std::vector<Onset>& onsets,
                                  const std::vector<int32_t>& measureStarts) {
    const long n = static_cast<long>(onsets.size());
    std::vector<int> reference(n, -1);
    std::unordered_map<std::string, int> first;
    std::string figure;
    for (long s = 0; s < n; ++s) {
        figure.clear();
        appendFigure(figure, onsets, s, kFigureReach,
                     [](const Entry& e) { return e.key * 2 + (e.struck ? 1 : 0); });
        const auto found = first.emplace(figure, static_cast<int>(s));
        if (!found.second) {
            reference[s] = found.first->second;
        }
    }
    // A measure played again, whatever came before it: the same keys, held or struck, at the same
    // times from the measure's start, and the same length. Every onset of it then follows its
    // counterpart in the measure's first occurrence, so that a measure repeated right at the start
    // of a piece, or after different music, is fingered as before. This takes priority over the
    // figures above: a figure may also recur inside a measure (its second half repeating its
    // first), and following that would finger the measure unlike its first occurrence.
    std::unordered_map<std::string, int> firstMeasure;
    long s = 0;
    for (size_t m = 0; m < measureStarts.size(); ++m) {
        const int32_t begin = measureStarts[m];
        const bool last = m + 1 >= measureStarts.size();
        const int32_t end = last ? std::numeric_limits<int32_t>::max() : measureStarts[m + 1];
        while (s < n && onsets[s].tick < begin) {
            ++s;
        }
        long stop = s;
        while (stop < n && onsets[stop].tick < end) {
            ++stop;
        }
        if (stop == s || end <= begin) {
            continue;
        }
        figure.clear();
        appendValue(figure, last ? -1 : end - begin);
        for (long at = s; at < stop; ++at) {
            const Onset& o = onsets[at];
            appendValue(figure, o.tick - begin);
            appendValue(figure, o.count * 2 + (at > s && o.afterRest ? 1 : 0));
            for (int i = 0; i < o.count; ++i) {
                appendValue(figure, o.entry[i].key * 2 + (o.entry[i].struck ? 1 : 0));
            }
        }
        const auto found = firstMeasure.emplace(figure, static_cast<int>(s));
        for (long i = 0; s + i < stop && !found.second; ++i) {
            reference[s + i] = found.first->second + static_cast<int>(i);
        }
        s = stop;
    }
    return reference;
}

// Onsets on either side that make up the figure a sequence is matched by: fewer than for an
// identical figure, because a sequence moves on after a few notes (two rather than three or four:
// cross-validated 65.4 % against 64.9 % and 64.9 %).
constexpr int kSequenceReach = 2;

// For every onset without an identical figure, the first earlier onset at the same place in its
// measure whose figure is this one moved to other keys: the same times, counts, held and struck
// notes and rests over kSequenceReach onsets on either side, every key moved by one interval (not
// 0) onto a key of the same colour; or -1, and -1 everywhere without measures. Editors finger such
// a sequence alike. A figure whose colours change under the move often takes another fingering
// (the thumb kept off the black keys); matching such moves, or matches at another place in the
// measure, lost on the training pieces.
std::vector<int> sequenceReferences(const std::vector<Onset>& onsets,
                                    const std::vector<int32_t>& measureStarts,
                                    const std::vector<int>& reference) {
    const long n = static_cast<long>(onsets.size());
    std::vector<int> sequence(n, -1);
    if (measureStarts.empty()) {
        return sequence;
    }
    std::unordered_map<std::string, int> first;
    std::string figure;
    size_t m = 0;
    for (long s = 0; s < n; ++s) {
        while (m + 1 < measureStarts.size() && measureStarts[m + 1] <= onsets[s].tick) {
            ++m;
        }
        figure.clear();
        appendValue(figure, onsets[s].tick - measureStarts[m]);
        // Keys are taken from the onset's first key, so a figure and its move read alike.
        const int32_t base = onsets[s].entry[0].key;
        appendFigure(figure, onsets, s, kSequenceReach, [base](const Entry& e) {
            return (e.key - base) * 4 + (e.black ? 2 : 0) + (e.struck ? 1 : 0);
        });
        const auto found = first.emplace(figure, static_cast<int>(s));
        const int r = found.first->second;
        // An unmoved match is an identical figure, which the references already follow.
        if (!found.second && reference[s] < 0 && onsets[r].entry[0].key != base) {
            sequence[s] = r;
        }
    }
    return sequence;
}

// Notes in a row that make one octave of a scale.
constexpr int kScaleOctave = 7;

// For every onset of a scale running over more than one octave, the onset an octave before it
// in the same run (the same steps from the same pitch class), or -1: the books finger every
// octave of a scale alike, the thumb and the fourth finger on the same keys each time.
std::vector<int> scaleOctaves(const std::vector<Onset>& onsets) {
    const long n = static_cast<long>(onsets.size());
    std::vector<int> octave(n, -1);
    auto step = [&](long s) {  // the step from onset s - 1 to s in a line of single notes, or 0
        if (s <= 0 || s >= n || onsets[s].count != 1 || onsets[s - 1].count != 1 ||
            !onsets[s].entry[0].struck || onsets[s].afterRest) {
            return 0;
        }
        const int d = onsets[s].entry[0].pos - onsets[s - 1].entry[0].pos;
        return std::abs(d) <= 2 ? d : 0;
    };
    for (long s = kScaleOctave; s + kScaleOctave <= n; ++s) {
        const long r = s - kScaleOctave;
        bool same = (onsets[s].entry[0].key - onsets[r].entry[0].key) % 12 == 0 &&
                    onsets[s].count == 1 && onsets[r].count == 1;
        int span = 0;
        for (long i = 1; i < 2 * kScaleOctave && same; ++i) {
            const int d = step(r + i);
            same = d != 0 && (i < kScaleOctave || d == step(r + i - kScaleOctave)) &&
                   (d > 0) == (step(r + 1) > 0);
            span += i <= kScaleOctave ? d : 0;
        }
        if (!same || std::abs(span) != 12) {
            continue;
        }
        for (long i = 0; i < kScaleOctave; ++i) {
            if (octave[s + i] < 0) {
                octave[s + i] = static_cast<int>(r + i);
            }
        }
    }
    return octave;
}

// The fingers of every onset. With the fitted costs, a repeated figure (and, at the table's
// sequence cost, a figure moved in a sequence) then prefers the assignment its first occurrence
// got, over a few passes until the first occurrences no longer change; each pass is one linear
// programme.
std::vector<Assignment> chooseFingers(const Model& model, const HandSetup& setup,
                                      const std::vector<Onset>& onsets) {
    std::vector<uint8_t> states = chooseStates(model, setup, onsets, {}, {});
    const double penalty = model.fitted ? model.fitted->weight[fitted::kConsistency] : 0.0;
    if (penalty > 0.0) {
        const std::vector<int> reference = figureReferences(onsets, *model.measureStarts);
        const std::vector<int> octave = scaleOctaves(onsets);
        const double sequenceCost = model.fitted->weight[fitted::kSequence];
        const std::vector<int> sequence =
            sequenceCost > 0.0 ? sequenceReferences(onsets, *model.measureStarts, reference)
                               : std::vector<int>(onsets.size(), -1);
        // The onset each one follows (an identical figure or measure first, then the octave of
        // a scale before, then a sequence), or -1, and the cost of leaving its fingering while
        // it is only preferred.
        std::vector<int> follow(onsets.size());
        std::vector<double> preferCost(onsets.size());
        for (size_t s = 0; s < onsets.size(); ++s) {
            follow[s] = reference[s] >= 0 ? reference[s] : octave[s] >= 0 ? octave[s] : sequence[s];
            const bool moved = reference[s] < 0 && octave[s] < 0 && sequence[s] >= 0;
            preferCost[s] = moved ? sequenceCost : penalty;
        }
        std::vector<int> preferred(onsets.size(), -1);
        std::vector<double> cost(onsets.size(), penalty);
        std::vector<int> root(onsets.size());  // the first occurrence a repeat goes back to
        for (size_t s = 0; s < onsets.size(); ++s) {
            root[s] = static_cast<int>(s);
        }
        for (int pass = 0; pass < kConsistencyPasses; ++pass) {
            // The last pass holds every repeat to its first occurrence: what the preference
            // left different (a repeat whose surroundings pull the other way) now follows it,
            // and the programme fits the music around it (a held note may change finger). An
            // octave of a scale, or a figure moved in a sequence, only ever prefers its
            // fingering (a sequence at its own cost): the same figure on other keys may well need
            // another, which the surroundings then show.
            const bool last = pass + 1 == kConsistencyPasses;
            bool same = true;
            for (size_t s = 0; s < onsets.size(); ++s) {
                const int r = follow[s];
                const int want = r < 0 ? -1 : preferred[r] >= 0 ? preferred[r] : states[r];
                same = same && (want < 0 || want == states[s]);
                preferred[s] = want;
                cost[s] = last && reference[s] >= 0 ? kRepeatHeld : preferCost[s];
            }
            if (same) {
                break;
            }
            for (size_t s = 0; s < onsets.size() && last; ++s) {
                if (reference[s] >= 0) {
                    root[s] = root[reference[s]];
                    preferred[s] = states[root[s]];
                    preferred[root[s]] = states[root[s]];  // the first occurrence stays
                    cost[root[s]] = kRepeatHeld;
                }
            }
            states = chooseStates(model, setup, onsets, preferred, cost);
        }
    }
    std::vector<Assignment> chosen(onsets.size());
    for (size_t s = 0; s < onsets.size(); ++s) {
        chosen[s] = kAssignments.byCount[onsets[s].count][states[s]];
    }
    return chosen;
}

// One centre per onset: each finger near its relaxed place over its key, smoothed over the
// neighbouring onsets, and always within the interval from which every finger reaches its key.
std::vector<float> onsetCentres(const HandSetup& setup, const std::vector<Onset>& onsets,
                                const std::vector<Assignment>& fingers) {
    const size_t n = onsets.size();
    const float side = setup.hand == 0 ? 1.0f : -1.0f;
    std::vector<ReachInterval> ranges(n);
    std::vector<float> ideal(n);
    for (size_t s = 0; s < n; ++s) {
        const Onset& onset = onsets[s];
        ReachInterval range = centreRange(setup, onset, fingers[s].finger);
        if (range.low > range.high) {
            // Out of reach whatever the centre: the one that misses by least.
            range.low = range.high = (range.low + range.high) / 2.0f;
        }
        ranges[s] = range;
        float sum = 0.0f;
        for (int i = 0; i < onset.count; ++i) {
            sum += KeyLayout[onset.entry[i].key].x - side * kRelaxedOffset[fingers[s].finger[i]];
        }
        ideal[s] = std::clamp(sum / static_cast<float>(onset.count), range.low, range.high);
    }
    std::vector<float> centre = ideal;
    for (int pass = 0; pass < kSmoothingPasses; ++pass) {
        std::vector<float> smoothed(n);
        for (size_t s = 0; s < n; ++s) {
            float sum = 0.0f;
            float weight = 0.0f;
            for (int d = -kSmoothingReach; d <= kSmoothingReach; ++d) {
                const long at = static_cast<long>(s) + d;
                if (at >= 0 && at < static_cast<long>(n)) {
                    sum += kSmoothing[d + kSmoothingReach] * centre[at];
                    weight += kSmoothing[d + kSmoothingReach];
                }
            }
            smoothed[s] = std::clamp(sum / weight, ranges[s].low, ranges[s].high);
        }
        centre.swap(smoothed);
    }
    return centre;
}

bool sounds(const NoteEvent& event) {
    for (const NoteSlot& slot : event.slot) {
        if (isKey(slot.key)) {
            return true;
        }
    }
    return false;
}

// Rewrites every tick's slots so that slot k is finger k, and fills the plan.
void writeHand(const HandSetup& setup, const std::vector<Onset>& onsets,
               const std::vector<Assignment>& fingers, const std::vector<float>& centres) {
    std::vector<NoteEvent>& grid = *setup.grid;
    HandPlan& plan = *setup.plan;
    const size_t n = grid.size();
    plan.assign(n, onsets.empty() ? setup.restX : centres.front());
    size_t s = 0;  // the onset whose notes sound now; ticks before the first take its centre
    size_t restStart = 0;  // first tick of the current rest
    for (size_t t = 0; t < n; ++t) {
        while (s + 1 < onsets.size() && static_cast<size_t>(onsets[s + 1].tick) <= t) {
            ++s;
        }
        NoteEvent& event = grid[t];
        const NoteEvent before = event;
        for (NoteSlot& slot : event.slot) {
            slot.key = kNoKey;
        }
        if (onsets.empty() || static_cast<size_t>(onsets[s].tick) > t) {
            continue;  // before the first onset: nothing sounds
        }
        const Onset& onset = onsets[s];
        unsigned used = 0;
        for (const NoteSlot& note : before.slot) {
            if (!isKey(note.key)) {
                continue;
            }
            for (int i = 0; i < onset.count; ++i) {
                if (onset.entry[i].key == note.key && !(used & (1u << i))) {
                    used |= 1u << i;
                    event.slot[fingers[s].finger[i]] = note;
                    break;
                }
            }
        }
        if (sounds(before)) {
            restStart = t + 1;
            plan[t] = centres[s];
        } else if (s + 1 >= onsets.size()) {
            plan[t] = centres[s];
        } else {
            // A rest: glide from where the last notes were played towards the next onset.
            const float span = static_cast<float>(onsets[s + 1].tick - restStart + 1);
            const float done = static_cast<float>(t - restStart + 1);
            plan[t] = centres[s] + (centres[s + 1] - centres[s]) * done / span;
        }
    }
}

// Marks the first and last notes of lines of single notes with the finger they begin or end on.
void markLineEnds(std::vector<Onset>& onsets) {
    const size_t n = onsets.size();
    auto single = [&](size_t s) { return onsets[s].count == 1 && onsets[s].entry[0].struck; };
    for (size_t s = 0; s < n; ++s) {
        if (!single(s)) {
            continue;
        }
        const int32_t pos = onsets[s].entry[0].pos;
        const bool opens = onsets[s].afterRest;
        const bool closes = s + 1 == n || onsets[s + 1].afterRest;
        if (opens && !closes && single(s + 1)) {
            const bool rises = onsets[s + 1].entry[0].pos > pos;
            onsets[s].lineEnd = rises ? kThumb : kFingers - 1;
            onsets[s].lineKind = rises ? 0 : 1;
        } else if (closes && !opens && s > 0 && single(s - 1)) {
            const bool rose = pos > onsets[s - 1].entry[0].pos;
            onsets[s].lineEnd = rose ? kFingers - 1 : kThumb;
            onsets[s].lineKind = rose ? 2 : 3;
        }
    }
}

// Marks the chords whose fingering the method books give (see the book-chord rule) with that
// fingering.
void markBookChords(std::vector<Onset>& onsets) {
    for (Onset& o : onsets) {
        const int n = o.count;
        o.bookChord = false;
        if (n < 3) {
            continue;
        }
        bool struck = true;
        for (int i = 0; i < n; ++i) {
            struck = struck && o.entry[i].struck;
        }
        const int span = o.entry[n - 1].pos - o.entry[0].pos;
        if (!struck || span < kBookChordSpan || span > kBookChordMaxSpan) {
            continue;
        }
        const int top = o.entry[n - 1].pos - o.entry[n - 2].pos;
        o.book[0] = kThumb;
        o.book[n - 1] = kFingers - 1;
        if (n == 3) {
            o.book[1] = top >= 5 ? 1 : top <= 2 ? 3 : 2;
        } else if (n == 4) {
            o.book[1] = 1;
            o.book[2] = top <= 2 || top == 4 ? 3 : 2;
        } else {
            for (int i = 1; i + 1 < n; ++i) {
                o.book[i] = static_cast<uint8_t>(i);
            }
        }
        o.bookChord = true;
    }
}

// The figure around every single struck note: the intervals from the onset before and to the
// onset after (none across a rest, a chord when several notes sound there).
void markFigures(std::vector<Onset>& onsets, int hand) {
    const size_t n = onsets.size();
    auto side = [&](size_t s, size_t other, bool joined) {
        if (!joined) {
            return fitted::kFigureNone;
        }
        if (onsets[other].count != 1) {
            return fitted::kFigureChord;
        }
        return fitted::figureSide(onsets[other].entry[0].pos - onsets[s].entry[0].pos);
    };
    for (size_t s = 0; s < n; ++s) {
        const Onset& o = onsets[s];
        if (o.count != 1 || !o.entry[0].struck) {
            continue;
        }
        const int before = side(s, s - 1, s > 0 && !o.afterRest);
        const int step = fitted::kFigureInterval;  // a side's value for no interval
        onsets[s].chromatic =
            std::abs(before - step) == 1 ||
            std::abs(side(s, s + 1, s + 1 < n && !onsets[s + 1].afterRest) - step) == 1;
        const int after = side(s, s + 1, s + 1 < n && !onsets[s + 1].afterRest);
        const bool beforeBlack = before < fitted::kFigureNone && onsets[s - 1].entry[0].black;
        const bool afterBlack = after < fitted::kFigureNone && onsets[s + 1].entry[0].black;
        onsets[s].figure = fitted::figureIndex(hand, before, after, o.entry[0].black,
                                               (beforeBlack ? 2 : 0) + (afterBlack ? 1 : 0), 0);
    }
}

// Where every single struck note lies among the keys sounding at the onsets around it (up to
// fitted::kPlaceReach on either side, not across a rest, where the hand may start afresh): the
// lowest and highest of them bound the hand's position, and the note's distance from each says
// which finger is over it.
void markPlaces(std::vector<Onset>& onsets, int hand) {
    const long n = static_cast<long>(onsets.size());
    for (long s = 0; s < n; ++s) {
        const Onset& o = onsets[s];
        int struck = -1, strikes = 0;
        for (int i = 0; i < o.count; ++i) {
            if (o.entry[i].struck) {
                struck = i;
                ++strikes;
            }
        }
        if (strikes != 1) {
            continue;
        }
        const Entry& note = o.entry[struck];
        int32_t low = note.pos, high = note.pos;
        auto take = [&](const Onset& other) {
            for (int i = 0; i < other.count; ++i) {
                low = std::min(low, other.entry[i].pos);
                high = std::max(high, other.entry[i].pos);
            }
        };
        for (long at = s - 1; at >= 0 && at >= s - fitted::kPlaceReach && !onsets[at + 1].afterRest;
             --at) {
            take(onsets[at]);
        }
        for (long at = s + 1; at < n && at <= s + fitted::kPlaceReach && !onsets[at].afterRest;
             ++at) {
            take(onsets[at]);
        }
        const int32_t pos = note.pos;
        auto semitone = [&](long other) {
            return other >= 0 && other < n && onsets[other].count == 1 &&
                   std::abs(onsets[other].entry[0].pos - note.pos) == 1;
        };
        const bool chromaticRun =
            semitone(s - 1) && semitone(s + 1) && !o.afterRest && !onsets[s + 1].afterRest;
        if (high == low || high - low > fitted::kPlaceMax || chromaticRun) {
            continue;
        }
        onsets[s].place = fitted::placeIndex(hand, pos - low, high - pos, note.black, 0);
        onsets[s].placeEntry = struck;
    }
}

void planHand(const Model& model, const HandSetup& setup,
              const std::vector<PrintedFinger>& printed) {
    std::vector<Onset> onsets = collectOnsets(*setup.grid, setup.hand);
    applyPrinted(onsets, setup.hand, printed);
    markLineEnds(onsets);
    markFigures(onsets, setup.hand);
    markPlaces(onsets, setup.hand);
    markBookChords(onsets);
    const std::vector<Assignment> fingers = chooseFingers(model, setup, onsets);
    const std::vector<float> centres = onsetCentres(setup, onsets, fingers);
    writeHand(setup, onsets, fingers, centres);
    setup.fallbackTicks->clear();
}

HandSetup setupFor(int hand) {
    HandSetup setup{};
    setup.hand = hand;
    setup.grid = hand == 0 ? &rightNotes : &leftNotes;
    setup.plan = hand == 0 ? &rightPlan : &leftPlan;
    setup.fallbackTicks = hand == 0 ? &rightFallbackTicks : &leftFallbackTicks;
    setup.restX = hand == 0 ? kRightHandStart.x : kLeftHandStart.x;
    for (int f = 0; f < kFingers; ++f) {
        for (int black = 0; black < 2; ++black) {
            ReachInterval r = fingerReach(hand, f, black != 0);
            r.low += kReachMargin;
            r.high -= kReachMargin;
            setup.reach[f][black] = r;
        }
    }
    return setup;
}

// Half-width of the reach of a digit around its base's x: the part of its full length left for
// the horizontal once the depth and the height of the target are taken.
float reachHalfWidth(float length, float depth, float height) {
    const float left = length * length - depth * depth - height * height;
    return left > 0.0f ? std::sqrt(left) : 0.0f;
}

// targetY after the depth limit for a digit on a key, as the solvers apply it.
float limitedDepth(float targetY, float depthOffset, float blackBound, bool black) {
    float limit = depthOffset;
    if (black && limit < blackBound) {
        limit = blackBound;
    } else if (!black && limit < static_cast<float>(kWhiteKeyBound)) {
        limit = static_cast<float>(kWhiteKeyBound);
    }
    return targetY + depthOffset < limit ? limit - depthOffset : targetY;
}

}  // namespace

float deepestFingerHeight(float palmHeight, bool black) {
    const double drop = black ? kPressDropBlack : kPressDropWhite;
    return static_cast<float>(palmHeight - drop + kTravelSteps * kTravelRise);
}

ReachInterval fingerReach(int hand, int finger, bool black) {
    const HandMirror& mirror = hand == 0 ? rightMirror : leftMirror;
    const HandState& state = *mirror.hand;
    const HandDimensions dims = computeHandDimensions();
    const float z = deepestFingerHeight(state.position.z, black);
    if (finger == kThumb) {
        const float bx = dims.thumbBase.x * mirror.mirrorX;
        const float by = dims.thumbBase.y;
        const float offset = by - state.position.y;
        const float y = limitedDepth(state.fingers[0].y, offset, dims.thumbBlackBound, black);
        const float w =
            reachHalfWidth(dims.thumbLength1 + dims.thumbLength2, y - by, z + dims.thumbBase.z);
        return ReachInterval{bx - w, bx + w};
    }
    const FingerSize& size = dims.fingers[finger];
    const float angle = toRadians(mirror.baseAngles[finger]);
    const float bx = dims.solverBaseDistance * std::cos(angle);
    const float by = dims.solverBaseDistance * std::sin(angle);
    const float offset = by - state.position.y;
    const float y = limitedDepth(state.fingers[finger].y, offset, size.blackBound, black);
    // The tip link with the second joint at 150 degrees, as the finger solver takes it.
    const float c150 = std::cos(toRadians(150.0f));
    const float tipLink = std::sqrt(size.length2 * size.length2 + size.length3 * size.length3 -
                                    c150 * 2 * size.length2 * size.length3);
    const float w = reachHalfWidth(size.length1 + tipLink, y - by, z);
    return ReachInterval{bx - w, bx + w};
}

void planHandsOptimalWith(const std::vector<PrintedFinger>& printed, const fitted::Costs& costs,
                          const std::vector<int32_t>& measureStarts) {
    plannerSteps = 0;
    secondOrderSteps = 0;
    const fitted::SecondOrder& second = fitted::secondOrderInUse();
    const Model model{&costs, &costs.rule, &measureStarts,
                      second.weight > 0.0f ? &second : nullptr};
    planHand(model, setupFor(0), printed);
    planHand(model, setupFor(1), printed);
}

void planHandsOptimalWith(const std::vector<PrintedFinger>& printed, const fitted::Costs& costs) {
    planHandsOptimalWith(printed, costs, {});
}

void planHandsOptimal(const std::vector<PrintedFinger>& printed, OptimalCosts costs,
                      const std::vector<int32_t>& measureStarts) {
    if (costs == OptimalCosts::Fitted) {
        planHandsOptimalWith(printed, fitted::embeddedCosts(), measureStarts);
        return;
    }
    plannerSteps = 0;
    secondOrderSteps = 0;
    const Model model{nullptr, &fitted::handSetRules(), &measureStarts, nullptr};
    planHand(model, setupFor(0), printed);
    planHand(model, setupFor(1), printed);
}

void planHandsOptimal(const std::vector<PrintedFinger>& printed, OptimalCosts costs) {
    planHandsOptimal(printed, costs, {});
}

void planHandsOptimal(const std::vector<PrintedFinger>& printed,
                      const std::vector<int32_t>& measureStarts) {
    planHandsOptimal(printed, OptimalCosts::Fitted, measureStarts);
}

void planHandsOptimal(const std::vector<PrintedFinger>& printed) {
    planHandsOptimal(printed, OptimalCosts::Fitted, {});
}

size_t optimalPlanSteps() {
    return plannerSteps;
}

size_t optimalSecondOrderSteps() {
    return secondOrderSteps;
}

void countSecondOrder(const std::vector<PrintedFinger>& labels, fitted::SecondCounts* counts) {
    for (int hand = 0; hand < 2; ++hand) {
        std::vector<Onset> onsets = collectOnsets(hand == 0 ? rightNotes : leftNotes, hand);
        applyPrinted(onsets, hand, labels);
        for (size_t s = 2; s < onsets.size(); ++s) {
            if (!lineOfThree(onsets, s)) {
                continue;
            }
            const int twoBack = onsets[s - 2].entry[0].printed;
            const int oneBack = onsets[s - 1].entry[0].printed;
            const int finger = onsets[s].entry[0].printed;
            if (twoBack >= 0 && oneBack >= 0 && finger >= 0) {
                counts->count[secondCell(hand, onsets, s, twoBack, oneBack, finger)] += 1.0;
            }
        }
    }
}

void countFingerings(const std::vector<PrintedFinger>& labels, fitted::Counts* counts) {
    for (int hand = 0; hand < 2; ++hand) {
        std::vector<Onset> onsets = collectOnsets(hand == 0 ? rightNotes : leftNotes, hand);
        applyPrinted(onsets, hand, labels);
        markLineEnds(onsets);
        markFigures(onsets, hand);
        markPlaces(onsets, hand);
        for (size_t s = 0; s < onsets.size(); ++s) {
            Onset& now = onsets[s];
            // A held note keeps the finger it was struck with.
            for (int i = 0; i < now.count && s > 0; ++i) {
                Entry& e = now.entry[i];
                if (!e.struck && e.previous >= 0) {
                    e.printed = onsets[s - 1].entry[e.previous].printed;
                }
            }
            if (s > 0) {
                const Onset& before = onsets[s - 1];
                int pairs = 0;
                for (int i = 0; i < now.count; ++i) {
                    for (int j = 0; j < before.count && now.entry[i].struck; ++j) {
                        pairs += (now.carried & (1u << j)) ? 0 : 1;
                    }
                }
                for (int i = 0; i < now.count; ++i) {
                    const Entry& e = now.entry[i];
                    for (int j = 0; j < before.count && e.struck && e.printed >= 0; ++j) {
                        const Entry& from = before.entry[j];
                        if ((now.carried & (1u << j)) || from.printed < 0) {
                            continue;
                        }
                        counts->transition[transitionIndexOf(hand, from, from.printed, e, e.printed,
                                                             now.gap)] += 1.0 / pairs;
                    }
                }
            }
            if (now.count >= 2) {
                bool rising = true;
                for (int i = 0; i < now.count; ++i) {
                    const int f = now.entry[i].printed;
                    rising = rising && f >= 0 && (i == 0 || f > now.entry[i - 1].printed);
                }
                const std::vector<Assignment>& shapes = kAssignments.byCount[now.count];
                for (size_t shape = 0; shape < shapes.size() && rising; ++shape) {
                    bool same = true;
                    for (int i = 0; i < now.count; ++i) {
                        same = same && shapes[shape].finger[i] == now.entry[i].printed;
                    }
                    if (same) {
                        counts->chord[chordIndexOf(hand, now, static_cast<int>(shape))] += 1.0;
                    }
                }
            }
            if (now.figure >= 0 && now.entry[0].printed >= 0) {
                counts->figure[now.figure + now.entry[0].printed] += 1.0;
            }
            if (now.place >= 0 && now.entry[now.placeEntry].printed >= 0) {
                counts->place[now.place + now.entry[now.placeEntry].printed] += 1.0;
            }
            if (now.lineKind >= 0 && now.entry[0].printed >= 0) {
                counts->start[fitted::startIndex(hand, now.lineKind, now.entry[0].black,
                                                 now.entry[0].printed)] += 1.0;
            }
        }
    }
}
