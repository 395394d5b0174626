// Where a note lies among the keys around it, as the fitted planner learns it from editors'
// fingerings: the bottom of a handful of notes is the thumb's, the top the little finger's, in
// both hands, and the table counted on some pieces fingers other pieces more as their editors
// did.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
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

class FittedPlace : public ::testing::Test {
protected:
    void SetUp() override {
        buildKeyLayout();
        setStartValues();
        createKeyStates();
        ASSERT_TRUE(test_support::readMutopiaTraining(false, &pieces));
        ASSERT_GE(pieces.size(), 20u);
    }

    // The counts of every piece whose index has parity `half` (or all pieces when half < 0).
    fitted::Counts countHalf(int half) const {
        fitted::Counts counts;
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (half < 0 || static_cast<int>(i % 2) == half) {
                const std::vector<PlacedNote> notes = fillGrids(pieces[i]);
                countFingerings(printedFingers(notes), &counts);
            }
        }
        return counts;
    }

    // Printed fingers the planner gives back, their printed fingers hidden, over the pieces of
    // parity `half`, with `costs`, told the measures.
    size_t matchedOn(int half, const fitted::Costs& costs, size_t* notes) const {
        size_t matched = 0;
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (static_cast<int>(i % 2) != half) {
                continue;
            }
            const std::vector<PlacedNote> placed = fillGrids(pieces[i]);
            resetPerformance();
            planHandsOptimalWith({}, costs, measureStarts(placed));
            const MatchTally t = countMatches(placed);
            matched += t.matched[0] + t.matched[1];
            *notes += t.notes[0] + t.notes[1];
        }
        return matched;
    }

    std::vector<CorpusPiece> pieces;
};

int cheapest(const fitted::Costs& costs, int hand, int above, int below, bool black) {
    int best = 0;
    for (int f = 1; f < fitted::kFingers; ++f) {
        if (costs.place[fitted::placeIndex(hand, above, below, black, f)] <
            costs.place[fitted::placeIndex(hand, above, below, black, best)]) {
            best = f;
        }
    }
    return best;
}

// Counted from the editors' fingers (in the planning direction, so the left hand mirrored): a
// white key at the bottom of notes spanning a fifth is the thumb's, one at their top the little
// finger's, and one in their middle neither. Both in the table counted here from the training
// pieces and in the table compiled into the program.
TEST_F(FittedPlace, TheEdgesOfAHandfulOfNotesGoToTheOuterFingers) {
    const fitted::Costs counted = fitted::fitCosts(
        countHalf(-1), 5.0, fitted::embeddedCosts().weight, fitted::embeddedCosts().rule);
    for (const fitted::Costs* costs : {&counted, &fitted::embeddedCosts()}) {
        for (int hand = 0; hand < fitted::kHands; ++hand) {
            EXPECT_EQ(cheapest(*costs, hand, 0, 7, false), 0) << "hand " << hand;
            EXPECT_EQ(cheapest(*costs, hand, 7, 0, false), 4) << "hand " << hand;
            const int middle = cheapest(*costs, hand, 4, 3, false);
            EXPECT_TRUE(middle >= 1 && middle <= 3) << "hand " << hand << ": " << middle;
        }
    }
    // The compiled-in table gives the place a weight: the fit found it worth something.
    EXPECT_GT(fitted::embeddedCosts().weight[fitted::kPlaceWeight], 0.0f);
}

// Counted on half of the Mutopia training pieces and planned on the other half (and the other
// way round), the place table makes the planner give more of the printed fingers than the same
// table without it.
TEST_F(FittedPlace, CountedOnSomePiecesItFingersOthersMoreAsTheirEditors) {
    const fitted::Costs& compiled = fitted::embeddedCosts();
    ASSERT_GT(compiled.weight[fitted::kPlaceWeight], 0.0f);
    size_t with = 0, without = 0, notes = 0, unused = 0;
    for (int half = 0; half < 2; ++half) {
        const fitted::Costs costs =
            fitted::fitCosts(countHalf(1 - half), 5.0, compiled.weight, compiled.rule);
        fitted::Costs plain = costs;
        plain.weight[fitted::kPlaceWeight] = 0.0f;
        with += matchedOn(half, costs, &notes);
        without += matchedOn(half, plain, &unused);
    }
    ASSERT_GT(notes, 3000u);
    EXPECT_GT(with, without + notes / 100) << with << " against " << without << " of " << notes;
}

// Two keys a fourth or more apart struck together, over every training piece in both hands, are
// never held by the thumb and the index, which editors almost never do and which turns the index
// across its free neighbour in the picture.
TEST_F(FittedPlace, WideTwoKeyChordsAreNotHeldByTheThumbAndTheIndex) {
    size_t checked = 0;
    for (const CorpusPiece& piece : pieces) {
        const std::vector<PlacedNote> placed = fillGrids(piece);
        resetPerformance();
        planHandsOptimalWith({}, fitted::embeddedCosts(), measureStarts(placed));
        for (int hand = 0; hand < 2; ++hand) {
            const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
            for (size_t i = 0; i < placed.size(); ++i) {
                const PlacedNote& n = placed[i];
                if (n.hand != hand || !n.placed || static_cast<size_t>(n.tick) >= grid.size()) {
                    continue;
                }
                std::vector<std::pair<int32_t, int>> struck;  // key, planned finger
                for (const PlacedNote& m : placed) {
                    if (m.hand == hand && m.tick == n.tick && m.placed) {
                        for (int f = 0; f < 5; ++f) {
                            if (grid[m.tick].slot[f].key == m.key) {
                                struck.push_back({m.key, f});
                            }
                        }
                    }
                }
                int sounding = 0;
                for (int f = 0; f < 5; ++f) {
                    sounding += grid[n.tick].slot[f].key >= 0 ? 1 : 0;
                }
                if (struck.size() != 2 || sounding != 2 || struck[0].first != n.key) {
                    continue;  // each chord once, from its first note; only two keys sounding
                }
                if (std::abs(struck[1].first - struck[0].first) < 5) {
                    continue;
                }
                ++checked;
                const int low = std::min(struck[0].second, struck[1].second);
                const int high = std::max(struck[0].second, struck[1].second);
                EXPECT_FALSE(low == 0 && high == 1)
                    << piece.name << ", hand " << hand << ", tick " << n.tick << ": keys "
                    << struck[0].first << " and " << struck[1].first << " with thumb and index";
            }
        }
    }
    EXPECT_GE(checked, 50u);
}

}  // namespace
