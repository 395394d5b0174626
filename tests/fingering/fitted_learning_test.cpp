// Learning the fitted tables from the planner's mistakes, on the real fingered scores of the
// training split: the table learned on some pieces gives those pieces more of their printed
// fingers than the counted table it started from, it comes out the same on every run, and the
// planner with it still fingers every note; a line given to keep comes out as fingered even when
// the pieces learned from teach another fingering of it.

#include "fingering/fitted_learning.h"

#include <gtest/gtest.h>

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
            const std::vector<PlacedNote> notes = fillGrids(p);
            resetPerformance();
            planHandsOptimalWith({}, costs, measureStarts(notes));
            size_t placed = 0;
            for (const PlacedNote& n : notes) {
                placed += n.placed ? 1 : 0;
            }
            EXPECT_EQ(fitted::plannedFingers(notes).size(), placed) << p.name;
            const MatchTally t = countMatches(notes);
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

}  // namespace
