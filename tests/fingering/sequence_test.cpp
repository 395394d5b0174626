// A figure moved in a sequence (every key by one interval, onto keys of the same colours, at the
// same place in its measure) takes its first occurrence's fingers at the table's sequence cost,
// while a move that changes the keys' colours, or a plan not told the measures, is left to the
// other costs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"
#include "fingering/fitted_learning.h"
#include "fingering/optimal_planner.h"
#include "score/score_model.h"

namespace {

constexpr int32_t kC4 = 39;  // keys 0..87 from A0

// Measures of 4/4 in sixteenths, right hand: `first` (printed with `fingers`, 1..5), then
// `first` moved by `move` semitones (unprinted), then a closing C5.
CorpusPiece sequencePiece(const std::vector<int32_t>& first, const std::vector<int>& fingers,
                          int move) {
    CorpusPiece piece;
    piece.name = "sequence";
    int64_t at = 0;
    for (int m = 0; m < 2; ++m) {
        for (size_t i = 0; i < first.size(); ++i, ++at) {
            piece.notes.push_back(
                {at, 4, 1, 4, first[i] + m * move, 0, m == 0 ? fingers[i] : 0, m + 1});
        }
    }
    piece.notes.push_back({at, 4, 4, 1, kC4 + 12, 0, 0, 3});
    return piece;
}

// The planned fingers (1..5) of the piece's placed notes, in order, at the sequence cost `weight`,
// told the measures or not.
std::vector<int> planned(const CorpusPiece& piece, float weight, bool measures = true) {
    setStartValues();
    createKeyStates();
    const std::vector<PlacedNote> placed = fillGrids(piece);
    fitted::Costs costs = fitted::embeddedCosts();
    costs.weight[fitted::kSequence] = weight;
    resetPerformance();
    planHandsOptimalWith(printedFingers(placed), costs,
                         measures ? measureStarts(placed) : std::vector<int32_t>{});
    std::vector<int> fingers;
    for (const PrintedFinger& f : fitted::plannedFingers(placed)) {
        fingers.push_back(f.finger + 1);
    }
    return fingers;
}

// C E D F E G F A G E F D E C D E: thirds up and back, white keys only (no B, so that the move
// up a fifth stays on white keys too).
std::vector<int32_t> thirdsFigure() {
    std::vector<int32_t> keys;
    for (int32_t k : {0, 4, 2, 5, 4, 7, 5, 9, 7, 4, 5, 2, 4, 0, 2, 4}) {
        keys.push_back(kC4 + k);
    }
    return keys;
}

// As the planner would finger it but for the E in the second half, on the index instead of the
// middle finger: an editor's choice the costs alone do not make on the figure moved.
const std::vector<int> kPrinted = {1, 3, 1, 3, 2, 4, 3, 5, 4, 2, 4, 2, 3, 1, 2, 1};

// The onsets of the moved figure whose two neighbours on either side lie inside it too: those the
// sequence matches (its first and last two also see the music before and after it).
constexpr size_t kMatchedFrom = 2;
constexpr size_t kMatchedTo = 14;

TEST(Sequences, FigureMovedUpAFifthTakesTheFingersOfItsFirstOccurrence) {
    const CorpusPiece piece = sequencePiece(thirdsFigure(), kPrinted, 7);
    const float weight = fitted::embeddedCosts().weight[fitted::kSequence];
    ASSERT_GT(weight, 0.0f);
    const std::vector<int> on = planned(piece, weight);
    const std::vector<int> off = planned(piece, 0.0f);
    ASSERT_EQ(on.size(), 2 * kPrinted.size() + 1);
    size_t otherwise = 0;
    for (size_t i = 0; i < kPrinted.size(); ++i) {
        EXPECT_EQ(on[i], kPrinted[i]) << "printed note " << i;
        if (i >= kMatchedFrom && i < kMatchedTo) {
            EXPECT_EQ(on[kPrinted.size() + i], kPrinted[i]) << "moved note " << i;
            otherwise += off[kPrinted.size() + i] != kPrinted[i] ? 1 : 0;
        }
    }
    // Without the sequence cost the moved figure is fingered otherwise: the case is not vacuous.
    EXPECT_GE(otherwise, 1u);
}

TEST(Sequences, MovesThatChangeTheKeysColoursOrPlansWithoutMeasuresAreLeftAlone) {
    const float weight = fitted::embeddedCosts().weight[fitted::kSequence];
    // Up a whole tone, F and C become F sharp and C sharp: another figure for the hand.
    const CorpusPiece moved = sequencePiece(thirdsFigure(), kPrinted, 2);
    EXPECT_EQ(planned(moved, weight), planned(moved, 0.0f));
    // Without measures no figure is matched as a sequence: the window and the other callers that
    // do not know the measures plan as before.
    const CorpusPiece fifth = sequencePiece(thirdsFigure(), kPrinted, 7);
    EXPECT_EQ(planned(fifth, weight, false), planned(fifth, 0.0f, false));
    EXPECT_NE(planned(fifth, weight), planned(fifth, weight, false));
}

}  // namespace
