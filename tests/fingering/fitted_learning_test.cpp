// Learning the fitted tables from the planner's mistakes, on the real fingered scores of the
// training split: the table learned on some pieces gives those pieces more of their printed
// fingers than the counted table it started from, it comes out the same on every run, and the
// planner with it still fingers every note; a line given to keep comes out as fingered even when
// the pieces learned from teach another fingering of it.

#include "fingering/fitted_learning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"
#include "fingering/optimal_planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"
#include "support/training_pieces.h"

namespace {

class FittedLearning : public ::testing::Test {
protected:
    void SetUp() override {
        buildKeyLayout();
        setStartValues();
        createKeyStates();
        ASSERT_TRUE(test_support::readMutopiaTraining(true, &pieces));
        ASSERT_GE(pieces.size(), 10u);
        for (const CorpusPiece& p : pieces) {
            learnFrom.push_back(&p);
            countFingerings(printedFingers(fillGrids(p)), &counts);
        }
    }

    // Printed fingers given back with `costs`, their printed fingers hidden, over the pieces;
    // every placed note must get a finger.
    size_t matched(const fitted::Costs& costs, size_t* printed) const {
        size_t got = 0;
        for (const CorpusPiece& p : pieces) {
            const MatchTally t = countMatches(test_support::planEveryNote(p, costs));
            got += t.matched[0] + t.matched[1];
            *printed += t.notes[0] + t.notes[1];
        }
        return got;
    }

    std::vector<CorpusPiece> pieces;
    std::vector<const CorpusPiece*> learnFrom;
    fitted::Counts counts;
};

TEST_F(FittedLearning, LearningFromMistakesFitsThePiecesItSawAndIsTheSameEachRun) {
    const fitted::Costs& compiled = fitted::embeddedCosts();
    const fitted::Costs counted = fitted::fitCosts(counts, 5.0, compiled.weight, compiled.rule);
    const fitted::Costs learned = fitted::learnCosts(counted, learnFrom, 3, 0.02f);

    size_t printed = 0, unused = 0;
    const size_t before = matched(counted, &printed);
    const size_t after = matched(learned, &unused);
    ASSERT_GT(printed, 1500u);
    // The perceptron moves the costs towards the printed fingers of what it saw: a point or more.
    EXPECT_GT(after, before + printed / 100) << after << " against " << before << " of " << printed;

    // Only the tables move, and only those the planner reads.
    EXPECT_EQ(learned.rule, counted.rule);
    EXPECT_EQ(learned.weight, counted.weight);
    if (counted.weight[fitted::kTransitionWeight] == 0.0f) {
        EXPECT_EQ(learned.transition, counted.transition);
    }
    EXPECT_NE(learned.place, counted.place);

    // A refit gives the same table: the same pieces in the same shuffled orders.
    const fitted::Costs again = fitted::learnCosts(counted, learnFrom, 3, 0.02f);
    EXPECT_EQ(std::memcmp(&again, &learned, sizeof learned), 0);
    // No passes, no learning.
    const fitted::Costs none = fitted::learnCosts(counted, learnFrom, 0, 0.02f);
    EXPECT_EQ(std::memcmp(&none, &counted, sizeof counted), 0);
}

// A right-hand one-octave scale from middle C, fingered `fingers` (1..5), as a piece of its own.
CorpusPiece scaleFingered(const int (&fingers)[8]) {
    static const int kKeys[8] = {39, 41, 43, 44, 46, 48, 50, 51};
    CorpusPiece piece;
    piece.name = "scale";
    for (int i = 0; i < 8; ++i) {
        piece.notes.push_back(CorpusNote{i, 1, 1, 1, kKeys[i], 0, fingers[i], 1 + i / 4});
    }
    return piece;
}

// The fingers (1..5) the planner gives `line` with `costs`, its printed fingers hidden.
std::vector<int> plannedLine(const CorpusPiece& line, const fitted::Costs& costs) {
    const std::vector<PlacedNote> notes = fillGrids(line);
    resetPerformance();
    planHandsOptimalWith({}, costs, measureStarts(notes));
    std::vector<int> fingers;
    for (const PrintedFinger& f : fitted::plannedFingers(notes)) {
        fingers.push_back(f.finger + 1);
    }
    return fingers;
}

TEST_F(FittedLearning, LinesToKeepComeOutAsFingeredWhateverThePiecesTeach) {
    const fitted::Costs& compiled = fitted::embeddedCosts();
    const fitted::Costs counted = fitted::fitCosts(counts, 5.0, compiled.weight, compiled.rule);
    static const int kBooks[8] = {1, 2, 3, 1, 2, 3, 4, 5};
    static const int kOther[8] = {1, 2, 3, 4, 1, 2, 3, 4};
    const CorpusPiece book = scaleFingered(kBooks);
    const CorpusPiece other = scaleFingered(kOther);
    // The real pieces, and the same scale many times fingered the other way, so that the mean
    // table learns the other fingering of it.
    std::vector<const CorpusPiece*> teach = learnFrom;
    for (int copy = 0; copy < 40; ++copy) {
        teach.push_back(&other);
    }
    const std::vector<int> wanted(std::begin(kBooks), std::end(kBooks));
    const fitted::Costs astray = fitted::learnCosts(counted, teach, 3, 0.05f);
    ASSERT_NE(plannedLine(book, astray), wanted) << "the pieces no longer teach another fingering";

    const fitted::Costs kept = fitted::learnCosts(counted, teach, 3, 0.05f, {&book});
    EXPECT_EQ(plannedLine(book, kept), wanted);
    // The correction moves the same tables the learning does, and nothing else.
    EXPECT_EQ(kept.rule, counted.rule);
    EXPECT_EQ(kept.weight, counted.weight);
    // It is as deterministic as the learning.
    const fitted::Costs again = fitted::learnCosts(counted, teach, 3, 0.05f, {&book});
    EXPECT_EQ(std::memcmp(&again, &kept, sizeof kept), 0);
}

// The cheapest finger of a place context (fitted_costs.h's placeIndex) in `costs`.
int cheapestAt(const fitted::Costs& costs, int hand, int above, int below, bool black) {
    int best = 0;
    for (int f = 1; f < fitted::kFingers; ++f) {
        const int at = fitted::placeIndex(hand, above, below, black, 0);
        best = costs.place[at + f] < costs.place[at + best] ? f : best;
    }
    return best;
}

// However hard the pieces pull the top of a handful of notes towards the ring finger, every edge
// context the counts give to the outer finger keeps it, in both hands, while the learning does
// move the cells there.
TEST_F(FittedLearning, TheEdgesOfAHandfulStayWithTheOuterFingersWhateverThePiecesTeach) {
    const fitted::Costs& compiled = fitted::embeddedCosts();
    fitted::Costs counted = fitted::fitCosts(counts, 5.0, compiled.weight, compiled.rule);
    counted.weight[fitted::kPlaceWeight] = std::max(counted.weight[fitted::kPlaceWeight], 0.3f);
    // C D E F G with the ring finger on the G, over and over: the G is the top of a fifth.
    static const int kRing[8] = {1, 2, 3, 4, 4, 3, 2, 1};
    CorpusPiece ring;
    ring.name = "fifth";
    for (int i = 0; i < 8; ++i) {
        static const int kKeys[8] = {39, 41, 43, 44, 46, 44, 43, 41};
        ring.notes.push_back(CorpusNote{i, 1, 1, 1, kKeys[i], 0, kRing[i], 1 + i / 4});
    }
    std::vector<const CorpusPiece*> teach = learnFrom;
    for (int copy = 0; copy < 40; ++copy) {
        teach.push_back(&ring);
    }
    const fitted::Costs learned = fitted::learnCosts(counted, teach, 3, 0.05f);
    const int top = fitted::placeIndex(0, 7, 0, false, 0);
    EXPECT_LT(learned.place[top + 3], counted.place[top + 3]) << "the ring finger was not taught";
    int edges = 0;
    for (int hand = 0; hand < fitted::kHands; ++hand) {
        for (bool black : {false, true}) {
            for (int span = 5; span <= fitted::kPlaceMax; ++span) {
                if (cheapestAt(counted, hand, 0, span, black) == 0) {
                    ++edges;
                    EXPECT_EQ(cheapestAt(learned, hand, 0, span, black), 0)
                        << "hand " << hand << " black " << black << " span " << span;
                }
                if (cheapestAt(counted, hand, span, 0, black) == 4) {
                    ++edges;
                    EXPECT_EQ(cheapestAt(learned, hand, span, 0, black), 4)
                        << "hand " << hand << " black " << black << " span " << span;
                }
            }
        }
    }
    // The white keys' edges of both hands at least: the counts do give them the outer fingers.
    EXPECT_GE(edges, 4 * (fitted::kPlaceMax - 4));
}

}  // namespace
