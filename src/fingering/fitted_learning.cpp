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

namespace {

// One learner: the costs it moves, the view of each table and the edges it keeps.
class Learner {
public:
    explicit Learner(const Costs& counted) : costs_(counted) {
        tables_ = {
            tableOf(&costs_.transition, costs_.weight[kTransitionWeight], planned_.transition,
                    printed_.transition, transitionKey),
            tableOf(&costs_.chord, costs_.weight[kChordWeight], planned_.chord, printed_.chord,
                    chordKey),
            tableOf(&costs_.start, costs_.weight[kStartWeight], planned_.start, printed_.start,
                    startKey),
            tableOf(&costs_.figure, costs_.weight[kFigureWeight], planned_.figure, printed_.figure,
                    figureKey),
            tableOf(&costs_.place, costs_.weight[kPlaceWeight], planned_.place, printed_.place,
                    placeKey),
        };
        if (costs_.weight[kPlaceWeight] > 0.0f) {
            edges_ = edgesOf(counted);
        }
        keepEdges();
        for (Table& t : tables_) {
            t.sum.assign(t.size, 0.0);
            if (t.weight > 0.0f) {
                t.groups = groupsOf(t.size, t.key);
            }
        }
    }
    Learner(const Learner&) = delete;
    Learner& operator=(const Learner&) = delete;

    Costs& costs() { return costs_; }
    void keepEdges() { fitted::keepEdges(edges_, &costs_); }

    // Plans `piece` with the costs as they stand and, where a printed note gets another finger,
    // moves the cells by `step`; whether it missed any.
    bool learnFrom(const CorpusPiece& piece, float step) {
        const std::vector<PlacedNote> notes = fillGrids(piece);
        const std::vector<PrintedFinger> labels = printedFingers(notes);
        if (labels.empty()) {
            return false;
        }
        resetPerformance();
        planHandsOptimalWith({}, costs_, measureStarts(notes));
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
        planned_ = Counts{};
        printed_ = Counts{};
        fillGrids(piece);
        countFingerings(guessed, &planned_);
        countFingerings(labels, &printed_);
        for (Table& t : tables_) {
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
        keepEdges();
        return true;
    }

    // `passes` over `pieces`, each in an order shuffled by the pass and `seed`, then the mean of
    // the tables after every piece in place of the costs.
    void learnAveraged(const std::vector<const CorpusPiece*>& pieces, int passes, float step,
                       uint64_t seed) {
        std::vector<size_t> order(pieces.size());
        std::iota(order.begin(), order.end(), size_t{0});
        size_t steps = 0;
        for (int pass = 0; pass < passes; ++pass) {
            shuffle(&order, static_cast<uint64_t>(pass) + 1 + seed);
            for (size_t at : order) {
                learnFrom(*pieces[at], step);
                for (Table& t : tables_) {
                    for (size_t i = 0; i < t.size; ++i) {
                        t.sum[i] += t.cells[i];
                    }
                }
                ++steps;
            }
        }
        for (Table& t : tables_) {
            for (size_t i = 0; i < t.size; ++i) {
                t.cells[i] = static_cast<float>(t.sum[i] / static_cast<double>(steps));
            }
        }
        keepEdges();
    }

private:
    Costs costs_;
    Counts planned_, printed_;
    std::vector<Table> tables_;
    std::vector<Edge> edges_;
};

// The cells of every table, in one order, for averaging and drawing back whole tables.
template <typename F>
void eachCell(Costs* a, const Costs& b, F f) {
    auto each = [&](auto& x, const auto& y) {
        for (size_t i = 0; i < x.size(); ++i) {
            f(&x[i], y[i]);
        }
    };
    each(a->transition, b.transition);
    each(a->chord, b.chord);
    each(a->start, b.start);
    each(a->figure, b.figure);
    each(a->place, b.place);
}

// A resample of `pieces` as large as it, drawn with replacement by a fixed generator; the pieces
// of `keep` (the method-book lines) are in every resample as often as in `pieces`.
std::vector<const CorpusPiece*> resample(const std::vector<const CorpusPiece*>& pieces,
                                         const std::vector<const CorpusPiece*>& keep,
                                         uint64_t seed) {
    std::vector<const CorpusPiece*> drawn, from;
    for (const CorpusPiece* p : pieces) {
        (std::find(keep.begin(), keep.end(), p) != keep.end() ? drawn : from).push_back(p);
    }
    uint64_t state = seed * 2862933555777941757ull + 3037000493ull;
    for (size_t i = 0; i < from.size(); ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        drawn.push_back(from[static_cast<size_t>((state >> 33) % from.size())]);
    }
    return drawn;
}

}  // namespace

Costs learnCosts(const Costs& counted, const std::vector<const CorpusPiece*>& pieces, int passes,
                 float step, const std::vector<const CorpusPiece*>& keep) {
    if (passes <= 0 || step <= 0.0f || pieces.empty()) {
        return counted;
    }
    Learner learner(counted);
    const int bags = static_cast<int>(counted.weight[kLearningBags] + 0.5f);
    if (bags <= 1) {
        learner.learnAveraged(pieces, passes, step, 0);
    } else {
        // Each run learns from the counted table over the pieces in orders of its own (or from
        // a resample of its own); the table kept is the mean of the runs' tables (each keeps the
        // edges, so their mean does too).
        const bool resampled = counted.weight[kLearningResample] > 0.5f;
        Costs mean = counted;
        eachCell(&mean, counted, [](float* m, float) { *m = 0.0f; });
        for (int bag = 0; bag < bags; ++bag) {
            Learner run(counted);
            const uint64_t seed = static_cast<uint64_t>(bag + 1) * 1000;
            run.learnAveraged(resampled ? resample(pieces, keep, seed) : pieces, passes, step,
                              seed);
            eachCell(&mean, run.costs(),
                     [bags](float* m, float v) { *m += v / static_cast<float>(bags); });
        }
        learner.costs() = mean;
    }
    // Drawn back towards the counts: what the learning moved is partly the habits of the pieces
    // it saw.
    const float pull = std::clamp(counted.weight[kLearningPull], 0.0f, 1.0f);
    if (pull > 0.0f) {
        eachCell(&learner.costs(), counted, [pull](float* m, float c) { *m += pull * (c - *m); });
    }
    learner.keepEdges();
    // The mean table can still finger a line that must stay as it is otherwise (the learning
    // saw it beside many pieces of one editor's habits): it is corrected by the same updates
    // from those lines alone, round after round, until every one comes out right or the rounds
    // run out (a line the rules cannot give at any cost would otherwise loop for ever).
    for (int round = 0; round < kKeepRounds && !keep.empty(); ++round) {
        bool wrong = false;
        for (const CorpusPiece* line : keep) {
            wrong = learner.learnFrom(*line, step) || wrong;
        }
        if (!wrong) {
            break;
        }
    }
    return learner.costs();
}

Costs learnCosts(const Costs& counted, const std::vector<const CorpusPiece*>& pieces,
                 const std::vector<const CorpusPiece*>& keep) {
    return learnCosts(counted, pieces, static_cast<int>(counted.weight[kLearningPasses] + 0.5f),
                      counted.weight[kLearningStep], keep);
}

}  // namespace fitted
