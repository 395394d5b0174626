// The whole-piece planner with its fitted costs over the fingered scores of data/fingering-train:
// the note lists are read whole and every note lands in its hand's grid; identical measures in
// identical surroundings get identical fingerings in every piece; the planner's work stays linear
// in the length of the music; and the compiled-in table is the one the data and the split name.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/state.h"
#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"
#include "fingering/optimal_planner.h"
#include "score/score_model.h"
#include "support/training_pieces.h"

namespace {

const std::string kData = QUORVEL_SOURCE_DIR "/data/fingering-train";

std::vector<std::string> pieceNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kData + "/pieces")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

CorpusPiece readPiece(const std::string& name) {
    CorpusPiece piece;
    std::string error;
    EXPECT_TRUE(readCorpusPiece(kData + "/pieces/" + name, &piece, &error)) << error;
    return piece;
}

// The finger (0..4) the grids give a placed note at its first tick, or -1.
int fingerOf(const PlacedNote& n) {
    const std::vector<NoteEvent>& grid = n.hand == 0 ? rightNotes : leftNotes;
    for (int k = 0; k < kSlotCount; ++k) {
        if (grid[n.tick].slot[k].key == n.key) {
            return k;
        }
    }
    return -1;
}

class FittedPlanner : public ::testing::Test {
protected:
    void SetUp() override {
        setStartValues();
        createKeyStates();
    }
};

TEST_F(FittedPlanner, SplitCoversEveryPieceOnceAndEveryNoteIsFingered) {
    std::vector<SplitEntry> split;
    std::string error;
    ASSERT_TRUE(readSplit(kData + "/split.tsv", &split, &error)) << error;
    std::map<std::string, std::string> role;
    size_t validation[2] = {0, 0};
    for (const SplitEntry& e : split) {
        EXPECT_TRUE(role.emplace(e.piece, e.role).second) << e.piece << " listed twice";
        validation[e.piece.rfind("mutopia-", 0) == 0 ? 0 : 1] += e.role == "validation" ? 1 : 0;
    }
    const std::vector<std::string> names = pieceNames();
    EXPECT_EQ(role.size(), names.size());
    EXPECT_GE(validation[0], 10u);  // unseen Mutopia pieces to report on
    EXPECT_GE(validation[1], 10u);
    size_t notes = 0, fingered = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(role.count(name), 1u);
        const CorpusPiece piece = readPiece(name);
        const std::vector<PlacedNote> placed = fillGrids(piece);
        ASSERT_EQ(placed.size(), piece.notes.size());
        resetPerformance();
        planHandsOptimal({});
        for (const PlacedNote& n : placed) {
            // A hand holding more than five keys at once cannot finger the sixth: the only notes
            // allowed to stay out of the grid.
            if (n.placed) {
                ASSERT_GE(fingerOf(n), 0) << "tick " << n.tick << " key " << n.key;
                ++notes;
            }
            fingered += n.finger >= 0 ? 1 : 0;
        }
    }
    EXPECT_GT(notes, 40000u);
    EXPECT_GT(fingered, 14000u);

    // Bad input: one line naming the file (and the row), never a crash.
    CorpusPiece piece;
    EXPECT_FALSE(readCorpusPiece(kData + "/no-such-piece.tsv", &piece, &error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
    const std::string bad = ::testing::TempDir() + "quorvel_bad_piece.tsv";
    std::ofstream(bad) << "onset_q\tduration_q\tkey\thand\tstaff\tvoice\tfinger\tmeasure\n"
                       << "0\t1\t60\tR\t1\t1\t1\t1\n"
                       << "1/0\t1\t62\tR\t1\t1\t7\t1\n";
    EXPECT_FALSE(readCorpusPiece(bad, &piece, &error));
    EXPECT_NE(error.find(":3:"), std::string::npos) << error;
    std::filesystem::remove(bad);
}

// Per hand, measures whose notes (times relative to the measure, keys, lengths) are identical and
// whose surroundings are identical as well (every note of the hand from four onsets before the
// measure to four onsets after it) are fingered identically, note by note.
TEST_F(FittedPlanner, IdenticalMeasuresGetIdenticalFingeringsInRealScores) {
    constexpr int kAround = 4;
    size_t compared = 0, pieces = 0, differing = 0;
    for (const std::string& name : pieceNames()) {
        const CorpusPiece piece = readPiece(name);
        const std::vector<PlacedNote> placed = fillGrids(piece);
        resetPerformance();
        planHandsOptimal({});
        bool any = false;
        for (int hand = 0; hand < 2; ++hand) {
            std::vector<const PlacedNote*> notes;
            std::vector<int32_t> onsets;
            for (const PlacedNote& n : placed) {
                if (n.hand == hand && n.placed) {
                    notes.push_back(&n);
                    onsets.push_back(n.tick);
                }
            }
            std::sort(onsets.begin(), onsets.end());
            onsets.erase(std::unique(onsets.begin(), onsets.end()), onsets.end());
            auto onsetIndex = [&](int32_t tick) {
                return static_cast<long>(std::lower_bound(onsets.begin(), onsets.end(), tick) -
                                         onsets.begin());
            };
            std::map<int, std::vector<const PlacedNote*>> measures;
            for (const PlacedNote* n : notes) {
                measures[n->measure].push_back(n);
            }
            // The signature of a measure with its surroundings, and its notes' fingers.
            std::map<std::vector<int32_t>, std::vector<int>> seen;
            for (const auto& [number, inside] : measures) {
                int32_t first = inside.front()->tick, last = first;
                for (const PlacedNote* n : inside) {
                    first = std::min(first, n->tick);
                    last = std::max(last, n->tick);
                }
                const long from = onsetIndex(first) - kAround;
                const long to = onsetIndex(last) + kAround;
                const int32_t begin = from < 0 ? -1 : onsets[from];
                const int32_t end = to >= static_cast<long>(onsets.size()) ? -1 : onsets[to];
                std::vector<int32_t> signature = {begin < 0 ? -1 : begin - first,
                                                  end < 0 ? -1 : end - first};
                for (const PlacedNote* n : notes) {
                    const bool inMeasure = n->measure == number;
                    const bool around = n->tick + n->length > (begin < 0 ? 0 : begin) &&
                                        (end < 0 || n->tick <= end);
                    if (inMeasure || around) {
                        signature.insert(signature.end(),
                                         {inMeasure ? 1 : 0, n->tick - first, n->key, n->length});
                    }
                }
                std::vector<int> fingers;
                for (const PlacedNote* n : inside) {
                    fingers.push_back(fingerOf(*n));
                }
                const auto found = seen.emplace(signature, fingers);
                if (!found.second) {
                    ++compared;
                    any = true;
                    differing += found.first->second == fingers ? 0 : 1;
                    EXPECT_EQ(found.first->second, fingers)
                        << name << " hand " << hand << " measure " << number;
                }
            }
        }
        pieces += any ? 1 : 0;
    }
    // Repeated measures are common in these pieces: the check is not vacuous.
    EXPECT_GE(compared, 30u);
    EXPECT_GE(pieces, 5u);
    EXPECT_EQ(differing, 0u);
}

// The dynamic programme's work (transitions evaluated) per onset does not grow with the length of
// the music: the same piece played one, two, four and eight times over costs proportionally.
TEST_F(FittedPlanner, WorkIsLinearInTheNumberOfNotes) {
    const CorpusPiece piece = readPiece("mutopia-mozartwa-k545-1.tsv");
    fillGrids(piece);
    const std::vector<NoteEvent> right = rightNotes, left = leftNotes;
    size_t handSetOnce = 0, fittedOnce = 0;
    for (int times : {1, 2, 4, 8}) {
        SCOPED_TRACE(times);
        test_support::layRepeated(right, left, times);
        planHandsOptimal({}, OptimalCosts::HandSet);
        const size_t handSet = optimalPlanSteps();
        test_support::layRepeated(right, left, times);
        planHandsOptimal({});
        const size_t fitted = optimalPlanSteps();
        if (times == 1) {
            handSetOnce = handSet;
            fittedOnce = fitted;
            ASSERT_GT(handSet, 1000u);
            continue;
        }
        // One pass of the programme: exactly proportional but for the joins between copies.
        EXPECT_NEAR(static_cast<double>(handSet) / (times * handSetOnce), 1.0, 0.01);
        // The fitted planning adds at most three passes for repeated figures, whatever the length.
        EXPECT_LE(fitted, 4 * handSet);
        EXPECT_LE(static_cast<double>(fitted) / (times * fittedOnce), 4.0);
    }
}

// On the validation pieces, which the fit never read, the fitted table does not fall behind the
// hand-set rules by more than a point (measured, planned without the measures: Mutopia 57.3 %
// against 58.0 %, Beringer & Dunhill 76.0 % against 74.7 %).
TEST_F(FittedPlanner, UnseenPiecesKeepTheirFigures) {
    std::vector<SplitEntry> split;
    std::string error;
    ASSERT_TRUE(readSplit(kData + "/split.tsv", &split, &error)) << error;
    MatchTally fitted[2], handSet[2];  // Mutopia, Beringer
    for (const SplitEntry& e : split) {
        if (e.role != "validation") {
            continue;
        }
        const int source = e.piece.rfind("mutopia-", 0) == 0 ? 0 : 1;
        const CorpusPiece piece = readPiece(e.piece);
        std::vector<PlacedNote> placed = fillGrids(piece);
        resetPerformance();
        planHandsOptimal({});
        fitted[source].add(countMatches(placed));
        placed = fillGrids(piece);
        resetPerformance();
        planHandsOptimal({}, OptimalCosts::HandSet);
        handSet[source].add(countMatches(placed));
    }
    for (int source = 0; source < 2; ++source) {
        SCOPED_TRACE(source == 0 ? "Mutopia" : "Beringer");
        const size_t notes = fitted[source].notes[0] + fitted[source].notes[1];
        const size_t got = fitted[source].matched[0] + fitted[source].matched[1];
        const size_t rules = handSet[source].matched[0] + handSet[source].matched[1];
        ASSERT_GT(notes, 1000u);
        EXPECT_GE(got * 100 + notes, rules * 100) << got << " against " << rules << " of " << notes;
        EXPECT_GE(got * 100, notes * (source == 0 ? 55 : 74)) << got << " of " << notes;
    }
}

TEST_F(FittedPlanner, CompiledTableComesWithItsProvenance) {
    std::ifstream in(QUORVEL_SOURCE_DIR "/data/fingering/fitted_costs.inc");
    std::stringstream text;
    text << in.rdbuf();
    const std::string table = text.str();
    EXPECT_NE(table.find("quorvel-fingering-fit"), std::string::npos);
    EXPECT_NE(table.find("split.tsv"), std::string::npos);
    EXPECT_NE(table.find("SOURCES.tsv"), std::string::npos);
    // Every cost is a finite negative log-probability.
    const fitted::Costs& costs = fitted::embeddedCosts();
    for (float c : costs.transition) {
        ASSERT_TRUE(c >= 0.0f && c <= 50.0f) << c;
    }
    for (float c : costs.chord) {
        ASSERT_TRUE(c >= 0.0f && c <= 50.0f) << c;
    }
    EXPECT_GT(costs.weight[fitted::kConsistency], 0.0f);
    EXPECT_EQ(costs.weight[fitted::kHandSetBlend], 1.0f);
}

}  // namespace
