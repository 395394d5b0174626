#include "midi/hand_split.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Costs, in the units of one semitone of hand movement. Tuned on two-staff piano music whose
// staves were merged into one track: the note lists of data/fingering-train and the MIDI exports
// under tests/data (bench_hand_split prints the share per file).
constexpr double kMoveWeight = 0.93;       // per semitone a key lies beyond the hand's reach ...
constexpr double kReach = 2.43;            // ... of this many semitones around where it was,
constexpr double kLeap = 20.0;             // up to a leap, which costs the same however far
constexpr double kFirstWeight = 0.25;      // per semitone of a hand's first reach from its register
constexpr double kRegisterWeight = 0.166;  // per semitone from the hand's usual register
constexpr int kEasySpan = 8;               // semitones a hand covers without stretching
constexpr double kStretchWeight = 2.35;    // per semitone beyond the easy span
constexpr int kLargestSpan = 13;           // beyond it a hand cannot hold the chord comfortably
constexpr double kBeyondWeight = 60.0;     // per semitone beyond the largest span
constexpr double kCrowdCost = 200.0;       // per note beyond five in one hand
constexpr double kCrossCost = 10.4;        // a hand playing past the other hand's place ...
constexpr double kCrossWeight = 3.8;       // ... plus this per semitone past it
// Per note a hand strikes while it still holds an earlier one: a held note and a new one are
// more often two hands (a melody over an accompaniment) than one hand's two voices.
constexpr double kBusyCost = 8.8;
// A chord of several notes taken by one hand while the other hand rests: two staves struck
// together are more often both hands.
constexpr double kShareCost = 3.6;
// Usual registers: the right hand around G4, the left around C3 (key numbers, A0 = 0).
constexpr double kRegister[2] = {45.7, 26.6};

struct Held {
    int32_t key;
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
    bool holding = false;
    for (const Held& held : place.held) {
        if (held.endTick > tick) {
            low = std::min(low, held.key);
            high = std::max(high, held.key);
            ++count;
            holding = true;
        }
    }
    const int32_t span = high - low;
    double cost = 0.0;
    cost += kStretchWeight * std::max(0, span - kEasySpan);
    cost += kBeyondWeight * std::max(0, ownSpan - kLargestSpan);
    cost += kStretchWeight * std::max(0, span - kLargestSpan);
    cost += kCrowdCost * std::max(0, count - 5);
    if (holding) {
        cost += kBusyCost * static_cast<double>(part.size());
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

// Where the other hand is for a crossing: its chord now, else where it last played; and a chord
// one hand takes alone.
double pairCost(const Path& path, const std::vector<PieceNote>& notes,
                const std::vector<size_t>& left, const std::vector<size_t>& right) {
    double cost = 0.0;
    if ((left.empty() && right.size() > 1) || (right.empty() && left.size() > 1)) {
        cost += kShareCost;
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
        place->held.push_back({notes[i].key, notes[i].endTick});
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
    // from[c][s]: the cut of chord c-1 on the best way to cut s of chord c.
    std::vector<std::vector<size_t>> from(chords.size());
    std::vector<Path> paths(1);
    std::vector<size_t> left;
    std::vector<size_t> right;
    for (size_t c = 0; c < chords.size(); ++c) {
        const Chord& chord = chords[c];
        const size_t cuts = chord.notes.size() + 1;
        std::vector<Path> next(cuts);
        from[c].assign(cuts, 0);
        for (size_t s = 0; s < cuts; ++s) {
            left.assign(chord.notes.begin(), chord.notes.begin() + static_cast<long>(s));
            right.assign(chord.notes.begin() + static_cast<long>(s), chord.notes.end());
            double best = std::numeric_limits<double>::infinity();
            for (size_t p = 0; p < paths.size(); ++p) {
                const Path& path = paths[p];
                const double cost = path.cost +
                                    handCost(path.hands[0], notes, right, chord.tick, 0) +
                                    handCost(path.hands[1], notes, left, chord.tick, 1) +
                                    pairCost(path, notes, left, right);
                if (cost < best) {
                    best = cost;
                    from[c][s] = p;
                }
            }
            next[s] = paths[from[c][s]];
            next[s].cost = best;
            advance(&next[s].hands[0], notes, right, chord.tick);
            advance(&next[s].hands[1], notes, left, chord.tick);
        }
        paths.swap(next);
    }
    size_t cut = 0;
    for (size_t s = 1; s < paths.size(); ++s) {
        if (paths[s].cost < paths[cut].cost) {
            cut = s;
        }
    }
    for (size_t c = chords.size(); c-- > 0;) {
        const Chord& chord = chords[c];
        for (size_t n = 0; n < chord.notes.size(); ++n) {
            notes[chord.notes[n]].hand = n < cut ? 1 : 0;
        }
        cut = from[c][cut];
    }
}
