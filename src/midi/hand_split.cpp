#include "midi/hand_split.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Costs, in the units of one semitone of hand movement. Tuned on two-staff piano music whose
// staves were merged into one track: the note lists of data/fingering-train and the MIDI exports
// under tests/data (bench_hand_split prints the share per file).
constexpr double kMoveWeight = 0.77;       // per semitone a key lies beyond the hand's reach ...
constexpr double kReach = 2.56;            // ... of this many semitones around where it was,
constexpr double kLeap = 20.0;             // up to a leap, which costs the same however far
constexpr double kFirstWeight = 0.3;       // per semitone of a hand's first reach from its register
constexpr double kRegisterWeight = 0.154;  // per semitone from the hand's usual register
constexpr int kEasySpan = 8;               // semitones a hand covers without stretching
constexpr double kStretchWeight = 2.35;    // per semitone beyond the easy span
constexpr int kLargestSpan = 13;           // beyond it a hand cannot hold the chord comfortably
constexpr double kBeyondWeight = 60.0;     // per semitone beyond the largest span
constexpr double kCrowdCost = 200.0;       // per note beyond five in one hand
constexpr double kCrossCost = 11.1;        // a hand playing past the other hand's place ...
constexpr double kCrossWeight = 4.0;       // ... plus this per semitone past it
// Per note a hand strikes while it still holds one struck well before: a held note and a new one
// are more often two hands (a melody over an accompaniment) than one hand's two voices.
constexpr double kBusyCost = 8.6;
// A chord of several notes taken by one hand while the other hand rests: two staves struck
// together are more often both hands.
constexpr double kShareCost = 3.7;
// Per note a hand takes where the other hand lets a note go and this one lets none go: a line
// goes on in the hand that played it.
constexpr double kLineCost = 2.0;
// Ways of cutting the chords kept at each chord: besides the cheapest to each cut of the latest
// chord, the next cheapest, because a hand's held notes make an early choice matter later.
constexpr size_t kBeam = 4;
// Usual registers: the right hand around G4, the left around A2 (key numbers, A0 = 0).
constexpr double kRegister[2] = {46.7, 24.8};

struct Held {
    int32_t key;
    int32_t tick;  // its onset
    int32_t endTick;
};

// What a hand looks like after the best way of playing the chords so far.
struct HandPlace {
    double centre = -1.0;    // mean key of its last chord; -1 before it plays
    std::vector<Held> held;  // its notes still sounding
};

struct Path {
    double cost = 0.0;
    HandPlace hands[2];  // 0 right, 1 left
};

struct Chord {
    int32_t tick;
    std::vector<size_t> notes;  // indices into the notes, by key
};

double handCost(const HandPlace& place, const std::vector<PieceNote>& notes,
                const std::vector<size_t>& part, int32_t tick, int hand) {
    if (part.empty()) {
        return 0.0;
    }
    int32_t low = notes[part.front()].key;
    int32_t high = notes[part.back()].key;
    int count = static_cast<int>(part.size());
    double sum = 0.0;
    for (size_t i : part) {
        sum += notes[i].key;
    }
    const int32_t ownSpan = high - low;
    int32_t heldSince = std::numeric_limits<int32_t>::max();  // onset of its earliest held note
    for (const Held& held : place.held) {
        if (held.endTick > tick) {
            low = std::min(low, held.key);
            high = std::max(high, held.key);
            ++count;
            heldSince = std::min(heldSince, held.tick);
        }
    }
    const int32_t span = high - low;
    double cost = 0.0;
    cost += kStretchWeight * std::max(0, span - kEasySpan);
    cost += kBeyondWeight * std::max(0, ownSpan - kLargestSpan);
    cost += kStretchWeight * std::max(0, span - kLargestSpan);
    cost += kCrowdCost * std::max(0, count - 5);
    // A note held from a moment ago (a rolled chord, notes played one after another into the
    // same chord) is not a voice of its own; one held from a quarter of the new note's length
    // or more before is.
    for (size_t i : part) {
        if (heldSince != std::numeric_limits<int32_t>::max() &&
            4 * (tick - heldSince) >= notes[i].endTick - notes[i].tick) {
            cost += kBusyCost;
        }
    }
    // Every key the hand reaches away from where it was costs its distance beyond a small reach
    // around that place; before it has played, it is at its usual register, from where its
    // first reach is cheap (a piece may open anywhere).
    const bool played = place.centre >= 0.0;
    const double from = played ? place.centre : kRegister[hand];
    const double weight = played ? kMoveWeight : kFirstWeight;
    for (size_t i : part) {
        cost += weight * std::min(kLeap, std::max(0.0, std::fabs(notes[i].key - from) - kReach));
    }
    const double centre = sum / static_cast<double>(part.size());
    cost += kRegisterWeight * std::fabs(centre - kRegister[hand]);
    return cost;
}

// What a cut costs both hands together: a chord one hand takes alone, a line moving to the other
// hand, and a crossing (where the other hand is: its chord now, else where it last played).
double pairCost(const Path& path, const std::vector<PieceNote>& notes,
                const std::vector<size_t>& left, const std::vector<size_t>& right) {
    double cost = 0.0;
    if ((left.empty() && right.size() > 1) || (right.empty() && left.size() > 1)) {
        cost += kShareCost;
    }
    if (!left.empty() || !right.empty()) {
        const int32_t tick = notes[!left.empty() ? left.front() : right.front()].tick;
        bool released[2] = {false, false};
        for (int h = 0; h < 2; ++h) {
            for (const Held& held : path.hands[h].held) {
                released[h] = released[h] || held.endTick == tick;
            }
        }
        if (!right.empty() && !released[0] && released[1]) {
            cost += kLineCost * static_cast<double>(right.size());
        }
        if (!left.empty() && !released[1] && released[0]) {
            cost += kLineCost * static_cast<double>(left.size());
        }
    }
    if (!left.empty() && right.empty() && path.hands[0].centre >= 0.0) {
        const double past = notes[left.back()].key - path.hands[0].centre;
        if (past > 0.0) {
            cost += kCrossCost + kCrossWeight * past;
        }
    }
    if (!right.empty() && left.empty() && path.hands[1].centre >= 0.0) {
        const double past = path.hands[1].centre - notes[right.front()].key;
        if (past > 0.0) {
            cost += kCrossCost + kCrossWeight * past;
        }
    }
    return cost;
}

void advance(HandPlace* place, const std::vector<PieceNote>& notes, const std::vector<size_t>& part,
             int32_t tick) {
    place->held.erase(std::remove_if(place->held.begin(), place->held.end(),
                                     [&](const Held& h) { return h.endTick <= tick; }),
                      place->held.end());
    if (part.empty()) {
        return;
    }
    double sum = 0.0;
    for (size_t i : part) {
        sum += notes[i].key;
        place->held.push_back({notes[i].key, notes[i].tick, notes[i].endTick});
    }
    place->centre = sum / static_cast<double>(part.size());
}
}  // namespace

void splitHands(std::vector<PieceNote>* notesIn, const std::vector<size_t>& which) {
    std::vector<PieceNote>& notes = *notesIn;
    std::vector<size_t> order = which;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return notes[a].tick != notes[b].tick ? notes[a].tick < notes[b].tick
                                              : notes[a].key < notes[b].key;
    });
    std::vector<Chord> chords;
    for (size_t i : order) {
        if (chords.empty() || chords.back().tick != notes[i].tick) {
            chords.push_back(Chord{notes[i].tick, {}});
        }
        chords.back().notes.push_back(i);
    }
    if (chords.empty()) {
        return;
    }
    // The few best ways of cutting the chords so far (each the cheapest way to its own cut of the
    // latest chord, then the next cheapest whatever their cut), and for each chord and way kept,
    // the way of the chord before it extends and its own cut.
    struct Step {
        size_t parent;
        size_t cut;
    };
    std::vector<std::vector<Step>> steps(chords.size());
    std::vector<Path> paths(1);
    std::vector<Path> next;
    struct Candidate {
        double cost;
        size_t parent;
        size_t cut;
    };
    std::vector<Candidate> candidates;
    std::vector<Candidate> kept;
    std::vector<bool> cutKept;
    std::vector<size_t> left;
    std::vector<size_t> right;
    for (size_t c = 0; c < chords.size(); ++c) {
        const Chord& chord = chords[c];
        const size_t cuts = chord.notes.size() + 1;
        candidates.clear();
        for (size_t s = 0; s < cuts; ++s) {
            left.assign(chord.notes.begin(), chord.notes.begin() + static_cast<long>(s));
            right.assign(chord.notes.begin() + static_cast<long>(s), chord.notes.end());
            for (size_t p = 0; p < paths.size(); ++p) {
                const Path& path = paths[p];
                const double cost = path.cost +
                                    handCost(path.hands[0], notes, right, chord.tick, 0) +
                                    handCost(path.hands[1], notes, left, chord.tick, 1) +
                                    pairCost(path, notes, left, right);
                candidates.push_back({cost, p, s});
            }
        }
        std::sort(candidates.begin(), candidates.end(),
                  [](const Candidate& a, const Candidate& b) { return a.cost < b.cost; });
        kept.clear();
        cutKept.assign(cuts, false);
        for (const Candidate& k : candidates) {
            if (!cutKept[k.cut]) {
                cutKept[k.cut] = true;
                kept.push_back(k);
            }
        }
        for (const Candidate& k : candidates) {
            if (kept.size() >= std::max(kBeam, cuts)) {
                break;
            }
            bool already = false;
            for (const Candidate& q : kept) {
                already = already || (q.parent == k.parent && q.cut == k.cut);
            }
            if (!already) {
                kept.push_back(k);
            }
        }
        next.assign(kept.size(), Path());
        steps[c].resize(kept.size());
        for (size_t k = 0; k < kept.size(); ++k) {
            const size_t s = kept[k].cut;
            left.assign(chord.notes.begin(), chord.notes.begin() + static_cast<long>(s));
            right.assign(chord.notes.begin() + static_cast<long>(s), chord.notes.end());
            next[k] = paths[kept[k].parent];
            next[k].cost = kept[k].cost;
            advance(&next[k].hands[0], notes, right, chord.tick);
            advance(&next[k].hands[1], notes, left, chord.tick);
            steps[c][k] = {kept[k].parent, s};
        }
        paths.swap(next);
    }
    size_t way = 0;
    for (size_t k = 1; k < paths.size(); ++k) {
        if (paths[k].cost < paths[way].cost) {
            way = k;
        }
    }
    for (size_t c = chords.size(); c-- > 0;) {
        const Chord& chord = chords[c];
        const size_t cut = steps[c][way].cut;
        for (size_t n = 0; n < chord.notes.size(); ++n) {
            notes[chord.notes[n]].hand = n < cut ? 1 : 0;
        }
        way = steps[c][way].parent;
    }
}
