#pragma once

// The Mutopia pieces the fingering corpus's split marks for training, read for tests that fit or
// learn tables on real editors' fingerings.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation/performance.h"
#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"
#include "fingering/fitted_learning.h"
#include "fingering/optimal_planner.h"
#include "score/score_model.h"

namespace test_support {

inline const std::string kTrainingData = QUORVEL_SOURCE_DIR "/data/fingering-train";

// Appends the Mutopia training pieces to `pieces` in the split's order: all of them, or with
// `everyOther` only the first, third, fifth and so on.
inline ::testing::AssertionResult readMutopiaTraining(bool everyOther,
                                                      std::vector<CorpusPiece>* pieces) {
    std::vector<SplitEntry> split;
    std::string error;
    if (!readSplit(kTrainingData + "/split.tsv", &split, &error)) {
        return ::testing::AssertionFailure() << error;
    }
    int seen = 0;
    for (const SplitEntry& e : split) {
        if (e.role != "train" || e.piece.rfind("mutopia-", 0) != 0 ||
            (everyOther && ++seen % 2 == 0)) {
            continue;
        }
        CorpusPiece piece;
        if (!readCorpusPiece(kTrainingData + "/pieces/" + e.piece, &piece, &error)) {
            return ::testing::AssertionFailure() << error;
        }
        pieces->push_back(piece);
    }
    return ::testing::AssertionSuccess();
}

// Plans `piece` with `costs`, its printed fingers hidden and its measures told, and expects every
// note the grids could place to come out with a finger. Returns the notes, planned, for the
// caller's own tally.
inline std::vector<PlacedNote> planEveryNote(const CorpusPiece& piece, const fitted::Costs& costs) {
    const std::vector<PlacedNote> notes = fillGrids(piece);
    resetPerformance();
    planHandsOptimalWith({}, costs, measureStarts(notes));
    size_t placed = 0;
    for (const PlacedNote& n : notes) {
        placed += n.placed ? 1 : 0;
    }
    EXPECT_EQ(fitted::plannedFingers(notes).size(), placed) << piece.name;
    return notes;
}

// Lays `right` and `left` each `times` over, one copy after the other, into the hands' grids and
// resets the performance: the same music made longer, for the checks that the planner's work
// grows with the length of the music and no faster. Planning rewrites the grids, so every
// planning of a length lays them anew.
inline void layRepeated(const std::vector<NoteEvent>& right, const std::vector<NoteEvent>& left,
                        int times) {
    rightNotes.clear();
    leftNotes.clear();
    for (int i = 0; i < times; ++i) {
        rightNotes.insert(rightNotes.end(), right.begin(), right.end());
        leftNotes.insert(leftNotes.end(), left.begin(), left.end());
    }
    resetPerformance();
}

}  // namespace test_support
