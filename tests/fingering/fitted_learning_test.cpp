// Learning the fitted tables from the planner's mistakes, on the real fingered scores of the
// training split: the table learned on some pieces gives those pieces more of their printed
// fingers than the counted table it started from, it comes out the same on every run, and the
// planner with it still fingers every note.

#include "fingering/fitted_learning.h"

#include <gtest/gtest.h>

#include <cstring>
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

}  // namespace
