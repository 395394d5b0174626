#include "fingering/fitted_learning.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "animation/performance.h"
#include "score/score_model.h"

namespace fitted {

namespace {

// A fixed shuffle (a linear congruential generator, the same on every machine), so that a refit
// takes the pieces in the same orders.
void shuffle(std::vector<size_t>* order, uint64_t seed) {
    uint64_t state = seed * 6364136223846793005ull + 1442695040888963407ull;
    for (size_t i = order->size(); i > 1; --i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const size_t j = static_cast<size_t>((state >> 33) % i);
        std::swap((*order)[i - 1], (*order)[j]);
    }
}

// The cells a mistake moves together: a cell and those of the same context in the other hand
// and in the details the planner's contexts add (the time before a transition, where a chord's
// widest gap lies, the colours of a figure's neighbours), because the printed fingers are far too
// few to teach every cell alone, and a left hand mirrored plays like a right one: one hand's
// mistakes teach the other's cells too.
using KeyOf = long (*)(size_t cell);

long pack(std::initializer_list<int> fields) {
    long key = 0;
    for (int v : fields) {
        key = key * 128 + (v + 64);
    }
    return key;
}

// transition[hand][interval][colours][gap][from][to]: interval, colours, from, to.
long transitionKey(size_t c) {
    constexpr size_t kPair = kFingers * kFingers;
    return pack({static_cast<int>(c / (kPair * kGaps * kColourPairs) % kIntervals),
                 static_cast<int>(c / (kPair * kGaps) % kColourPairs),
                 static_cast<int>(c % kPair)});
}
// chord[hand][notes][span][colours][inner][shape]: notes, span, colours, shape.
long chordKey(size_t c) {
    return pack({static_cast<int>(c / (kShapes * kInner * kColourPairs * kMaxSpan) % kChordSizes),
                 static_cast<int>(c / (kShapes * kInner * kColourPairs) % kMaxSpan),
                 static_cast<int>(c / (kShapes * kInner) % kColourPairs),
                 static_cast<int>(c % kShapes)});
}
// start[hand][kind][black][finger]: all but the hand.
long startKey(size_t c) {
    return static_cast<long>(c % (kFingers * 2 * kLineKinds));
}
// figure[hand][before][after][black][neighbours][finger]: before, after, black, finger.
long figureKey(size_t c) {
    constexpr size_t kAfter = kFingers * kColourPairs * 2;
    return pack({static_cast<int>(c / (kAfter * kFigureSides) % kFigureSides),
                 static_cast<int>(c / kAfter % kFigureSides),
                 static_cast<int>(c / (kFingers * kColourPairs) % 2),
                 static_cast<int>(c % kFingers)});
}
// place[hand][above][below][black][finger]: all but the hand.
long placeKey(size_t c) {
    return static_cast<long>(c % (kFingers * 2 * kPlaceSteps * kPlaceSteps));
}

// For every cell of a table, the cells of its group (itself included).
std::vector<std::vector<uint32_t>> groupsOf(size_t size, KeyOf key) {
    std::unordered_map<long, std::vector<uint32_t>> byKey;
    for (size_t c = 0; c < size; ++c) {
        byKey[key(c)].push_back(static_cast<uint32_t>(c));
    }
    std::vector<std::vector<uint32_t>> members(size);
    for (size_t c = 0; c < size; ++c) {
        members[c] = byKey[key(c)];
    }
    return members;
}

// One table the learning moves: its cells, its weight in the planner, what the plan and the
// editor counted in it at the last mistake, the running sum for the mean and every cell's group.
struct Table {
    float* cells;
    size_t size;
    float weight;
    const std::vector<double>* planned;
    const std::vector<double>* printed;
    KeyOf key;
    std::vector<double> sum;
    std::vector<std::vector<uint32_t>> groups;
};

// The learning's view of one of the costs' tables, with nothing summed or grouped yet.
template <size_t N>
Table tableOf(std::array<float, N>* cells, float weight, const std::vector<double>& planned,
              const std::vector<double>& printed, KeyOf key) {
    return Table{cells->data(), N, weight, &planned, &printed, key, {}, {}};
}

// The edges of a handful of notes: a note at the bottom of the keys around it, at least
// kEdgeSpan semitones below their top, is the thumb's, one at their top the little finger's.
// Learning keeps the outer finger the cheapest there (by kEdgeMargin) wherever the counts made it
// so: the printed fingers that reach those cells are few, and a mistake elsewhere in a cell's
// group (a chord's edge taken by the ring finger in one piece) otherwise handed the top of a
// fifth to the ring finger in every piece.
constexpr int kEdgeSpan = 5;
constexpr float kEdgeMargin = 0.1f;

struct Edge {
    int base;    // the context's cell for the thumb
    int finger;  // the finger it keeps
};

std::vector<Edge> edgesOf(const Costs& counted) {
    std::vector<Edge> edges;
    for (int hand = 0; hand < kHands; ++hand) {
        for (bool black : {false, true}) {
            for (int span = kEdgeSpan; span <= kPlaceMax; ++span) {
                for (const Edge e : {Edge{placeIndex(hand, 0, span, black, 0), 0},
                                     Edge{placeIndex(hand, span, 0, black, 0), kFingers - 1}}) {
                    bool cheapest = true;
                    for (int f = 0; f < kFingers; ++f) {
                        cheapest = cheapest && (f == e.finger || counted.place[e.base + e.finger] <
                                                                     counted.place[e.base + f]);
                    }
                    if (cheapest) {
                        edges.push_back(e);
                    }
                }
            }
        }
    }
    return edges;
}

// Lowers the outer finger's cell of every edge to kEdgeMargin under the cheapest other finger
// where it has come closer: the tables that keep the edges are a convex set, so the mean of
// tables kept so is kept so too.
void keepEdges(const std::vector<Edge>& edges, Costs* costs) {
    for (const Edge& e : edges) {
        float others = costs->place[e.base + (e.finger == 0 ? 1 : 0)];
        for (int f = 0; f < kFingers; ++f) {
            others = f == e.finger ? others : std::min(others, costs->place[e.base + f]);
        }
        float& own = costs->place[e.base + e.finger];
        own = std::min(own, others - kEdgeMargin);
    }
}

}  // namespace

std::vector<PrintedFinger> plannedFingers(const std::vector<PlacedNote>& notes) {
    std::vector<PrintedFinger> fingers;
    for (const PlacedNote& n : notes) {
        const std::vector<NoteEvent>& grid = n.hand == 0 ? rightNotes : leftNotes;
        if (!n.placed || n.tick < 0 || static_cast<size_t>(n.tick) >= grid.size()) {
            continue;
        }
        for (int f = 0; f < kFingers; ++f) {
            if (grid[n.tick].slot[f].key == n.key) {
                fingers.push_back(PrintedFinger{n.hand, n.tick, n.key, f});
                break;
            }
        }
    }
    return fingers;
}

Costs learnCosts(const Costs& counted, const std::vector<const CorpusPiece*>& pieces, int passes,
                 float step, const std::vector<const CorpusPiece*>& keep) {
    if (passes <= 0 || step <= 0.0f || pieces.empty()) {
        return counted;
    }
    Costs costs = counted;
    Counts planned, printed;
    std::vector<Table> tables = {
        tableOf(&costs.transition, costs.weight[kTransitionWeight], planned.transition,
                printed.transition, transitionKey),
        tableOf(&costs.chord, costs.weight[kChordWeight], planned.chord, printed.chord, chordKey),
        tableOf(&costs.start, costs.weight[kStartWeight], planned.start, printed.start, startKey),
        tableOf(&costs.figure, costs.weight[kFigureWeight], planned.figure, printed.figure,
                figureKey),
        tableOf(&costs.place, costs.weight[kPlaceWeight], planned.place, printed.place, placeKey),
    };
    const std::vector<Edge> edges =
        costs.weight[kPlaceWeight] > 0.0f ? edgesOf(counted) : std::vector<Edge>{};
    keepEdges(edges, &costs);
    for (Table& t : tables) {
        t.sum.assign(t.size, 0.0);
        if (t.weight > 0.0f) {
            t.groups = groupsOf(t.size, t.key);
        }
    }
    // Plans `piece` with the costs as they stand and, where a printed note gets another finger,
    // moves the cells by `step`; whether it missed any.
    auto learnFrom = [&](const CorpusPiece& piece) {
        const std::vector<PlacedNote> notes = fillGrids(piece);
        const std::vector<PrintedFinger> labels = printedFingers(notes);
        if (labels.empty()) {
            return false;
        }
        resetPerformance();
        planHandsOptimalWith({}, costs, measureStarts(notes));
        // The plan's fingers on the printed notes only: the contexts the editor's fingers are
        // counted in, so that the two counts differ exactly where the plan missed. (The notes
        // the editor left unfingered say nothing about what the editor would choose.)
        std::vector<PrintedFinger> guessed;
        size_t missed = 0;
        for (const PrintedFinger& g : plannedFingers(notes)) {
            for (const PrintedFinger& l : labels) {
                if (l.hand == g.hand && l.tick == g.tick && l.key == g.key) {
                    guessed.push_back(g);
                    missed += l.finger != g.finger ? 1 : 0;
                    break;
                }
            }
        }
        if (missed == 0) {
            return false;
        }
        planned = Counts{};
        printed = Counts{};
        fillGrids(piece);
        countFingerings(guessed, &planned);
        countFingerings(labels, &printed);
        for (Table& t : tables) {
            if (t.weight <= 0.0f) {
                continue;  // the planner does not read this table
            }
            const double move = step / t.weight;
            for (size_t i = 0; i < t.size; ++i) {
                const double d = (*t.planned)[i] - (*t.printed)[i];
                if (d == 0.0) {
                    continue;
                }
                for (uint32_t j : t.groups[i]) {
                    t.cells[j] += static_cast<float>(move * d);
                }
            }
        }
        keepEdges(edges, &costs);
        return true;
    };
    std::vector<size_t> order(pieces.size());
    std::iota(order.begin(), order.end(), size_t{0});
    size_t steps = 0;
    for (int pass = 0; pass < passes; ++pass) {
        shuffle(&order, static_cast<uint64_t>(pass) + 1);
        for (size_t at : order) {
            learnFrom(*pieces[at]);
            for (Table& t : tables) {
                for (size_t i = 0; i < t.size; ++i) {
                    t.sum[i] += t.cells[i];
                }
            }
            ++steps;
        }
    }
    for (Table& t : tables) {
        for (size_t i = 0; i < t.size; ++i) {
            t.cells[i] = static_cast<float>(t.sum[i] / static_cast<double>(steps));
        }
    }
    keepEdges(edges, &costs);
    // The mean table can still finger a line that must stay as it is otherwise (the learning
    // saw it beside many pieces of one editor's habits): it is corrected by the same updates
    // from those lines alone, round after round, until every one comes out right or the rounds
    // run out (a line the rules cannot give at any cost would otherwise loop for ever).
    for (int round = 0; round < kKeepRounds && !keep.empty(); ++round) {
        bool wrong = false;
        for (const CorpusPiece* line : keep) {
            wrong = learnFrom(*line) || wrong;
        }
        if (!wrong) {
            break;
        }
    }
    return costs;
}

Costs learnCosts(const Costs& counted, const std::vector<const CorpusPiece*>& pieces,
                 const std::vector<const CorpusPiece*>& keep) {
    return learnCosts(counted, pieces, static_cast<int>(counted.weight[kLearningPasses] + 0.5f),
                      counted.weight[kLearningStep], keep);
}

}  // namespace fitted
