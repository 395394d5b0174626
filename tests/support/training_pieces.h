#pragma once

// The Mutopia pieces the fingering corpus's split marks for training, read for tests that fit or
// learn tables on real editors' fingerings.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fingering/fingering_corpus.h"

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

}  // namespace test_support
