// The whole-piece planner's second-order costs and its hand-place rule: the table counted from the
// training pieces is a smoothed distribution that follows the editors' counts; the programme
// really threads the finger two notes back (a table that asks for it gets it); its work stays
// linear in the length of the music; and a larger hand-place rule never makes the hand move more
// across its crossings.

#include "fingering/fitted_second.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
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

const std::string kData = QUORVEL_SOURCE_DIR "/data/fingering-train";

CorpusPiece readPiece(const std::string& name) {
    CorpusPiece piece;
    std::string error;
    EXPECT_TRUE(readCorpusPiece(kData + "/pieces/" + name, &piece, &error)) << error;
    return piece;
}

// The second-order counts of every training piece.
fitted::SecondCounts trainingCounts(size_t* triples) {
    std::vector<SplitEntry> split;
    std::string error;
    EXPECT_TRUE(readSplit(kData + "/split.tsv", &split, &error)) << error;
    fitted::SecondCounts counts;
    for (const SplitEntry& e : split) {
        if (e.role == "train") {
            const std::vector<PlacedNote> notes = fillGrids(readPiece(e.piece));
            countSecondOrder(printedFingers(notes), &counts);
        }
    }
    double total = 0.0;
    for (double c : counts.count) {
        total += c;
    }
    *triples = static_cast<size_t>(total);
    return counts;
}

// A legato line of eighth notes in one hand, the other resting; returns the fingers 0..4.
std::vector<int> planLine(int hand, const std::vector<int32_t>& keys,
                          const std::vector<PrintedFinger>& printed, const fitted::Costs& costs) {
    constexpr int32_t kTicks = 2;
    std::vector<NoteEvent> line(keys.size() * kTicks, kEmptyEvent);
    for (size_t i = 0; i < keys.size(); ++i) {
        for (int32_t d = 0; d < kTicks; ++d) {
            line[i * kTicks + d].slot[0] = NoteSlot{keys[i], d + 1 == kTicks ? 1 : 0};
        }
    }
    const std::vector<NoteEvent> rest(line.size(), kEmptyEvent);
    rightNotes = hand == 0 ? line : rest;
    leftNotes = hand == 0 ? rest : line;
    resetPerformance();
    planHandsOptimalWith(printed, costs);
    std::vector<int> fingers;
    const std::vector<NoteEvent>& planned = hand == 0 ? rightNotes : leftNotes;
    for (size_t i = 0; i < keys.size(); ++i) {
        int finger = -1;
        for (int k = 0; k < kSlotCount; ++k) {
            finger = planned[i * kTicks].slot[k].key == keys[i] ? k : finger;
        }
        fingers.push_back(finger);
    }
    return fingers;
}

// Over a line, the semitones beyond a whole tone the place of the thumb moves where the fingers'
// order goes against the keys' on a third or wider (the left hand mirrored as the planner sees
// it; the fingers over C D E F G of a relaxed hand).
int shiftOverCrossings(int hand, const std::vector<int32_t>& keys,
                       const std::vector<int>& fingers) {
    static const int kRelaxed[5] = {0, 2, 4, 5, 7};
    int total = 0;
    for (size_t i = 1; i < keys.size(); ++i) {
        const int from = hand == 0 ? keys[i - 1] : 82 - keys[i - 1];
        const int to = hand == 0 ? keys[i] : 82 - keys[i];
        const int fa = fingers[i - 1], fb = fingers[i];
        const bool crossing = fa != fb && from != to && (to > from) != (fb > fa);
        if (crossing && std::abs(to - from) >= 3) {
            total += std::max(0, std::abs((to - kRelaxed[fb]) - (from - kRelaxed[fa])) - 2);
        }
    }
    return total;
}

class FittedSecond : public ::testing::Test {
protected:
    void SetUp() override {
        setStartValues();
        createKeyStates();
        buildKeyLayout();
        divisions = 2;
    }
    void TearDown() override { fitted::useSecondOrder(nullptr); }
};

// Counted on the training pieces, every context's costs are the negative logs of a distribution
// over the five fingers, and where the editors printed a context often, the finger they printed
// most there is the cheapest.
TEST_F(FittedSecond, TableIsADistributionThatFollowsTheCounts) {
    size_t triples = 0;
    const fitted::SecondCounts counts = trainingCounts(&triples);
    ASSERT_GT(triples, 3000u);
    auto table = std::make_unique<fitted::SecondOrder>(fitted::fitSecondOrder(counts, 5.0, 0.1f));
    size_t checked = 0;
    for (int c = 0; c < fitted::kSecondContexts; ++c) {
        double sum = 0.0;
        for (int f = 0; f < fitted::kFingers; ++f) {
            sum += std::exp(-table->cost[c * fitted::kFingers + f]);
        }
        ASSERT_NEAR(sum, 1.0, 1e-3) << "context " << c;
        const double* n = &counts.count[c * fitted::kFingers];
        const int most = static_cast<int>(std::max_element(n, n + fitted::kFingers) - n);
        double total = 0.0, runnerUp = 0.0;
        for (int f = 0; f < fitted::kFingers; ++f) {
            total += n[f];
            runnerUp = f == most ? runnerUp : std::max(runnerUp, n[f]);
        }
        // A clear favourite among many counts (a near tie may go either way after smoothing).
        if (total < 40.0 || n[most] < runnerUp + 5.0) {
            continue;
        }
        ++checked;
        for (int f = 0; f < fitted::kFingers; ++f) {
            EXPECT_LE(table->cost[c * fitted::kFingers + most],
                      table->cost[c * fitted::kFingers + f])
                << "context " << c << " finger " << f;
        }
    }
    EXPECT_GE(checked, 20u);
}

// A table that makes every note of a line take the finger of the note two before it (and costs
// dearly otherwise) fingers a rising scale by alternating two fingers in either hand, which no
// cost of one note after another would choose: the programme's state carries the finger two back.
TEST_F(FittedSecond, ProgrammeCarriesTheFingerTwoNotesBack) {
    auto table = std::make_unique<fitted::SecondOrder>();
    table->weight = 1.0f;
    table->smoothing = 5.0f;
    for (int hand = 0; hand < fitted::kHands; ++hand) {
        for (int two = 0; two < fitted::kFingers; ++two) {
            for (int one = 0; one < fitted::kFingers; ++one) {
                for (int before = -9; before <= 9; ++before) {
                    for (int now = -8; now <= 8; ++now) {
                        for (int colours = 0; colours < fitted::kColourPairs; ++colours) {
                            for (int f = 0; f < fitted::kFingers; ++f) {
                                table->cost[fitted::secondIndex(hand, two, one, before, now,
                                                                colours, f)] =
                                    f == two ? 0.0f : 20.0f;
                            }
                        }
                    }
                }
            }
        }
    }
    const fitted::Costs& costs = fitted::embeddedCosts();
    const std::vector<int32_t> rising = {39, 41, 43, 44, 46, 48, 50, 51, 53, 55};   // C4 up
    const std::vector<int32_t> falling = {27, 25, 23, 22, 20, 18, 16, 15, 13, 11};  // C3 down
    for (int hand = 0; hand < 2; ++hand) {
        SCOPED_TRACE(hand);
        const std::vector<int32_t>& keys = hand == 0 ? rising : falling;
        fitted::useSecondOrder(nullptr);
        const std::vector<int> without = planLine(hand, keys, {}, costs);
        fitted::useSecondOrder(table.get());
        const std::vector<int> with = planLine(hand, keys, {}, costs);
        ASSERT_EQ(with.size(), keys.size());
        EXPECT_NE(with[0], with[1]);
        bool alternatesWithout = true;
        for (size_t i = 2; i < keys.size(); ++i) {
            EXPECT_EQ(with[i], with[i - 2]) << "note " << i;
            alternatesWithout = alternatesWithout && without[i] == without[i - 2];
        }
        EXPECT_FALSE(alternatesWithout);
        EXPECT_GT(optimalSecondOrderSteps(), 0u);
        // Printed fingers still win over the table: a thumb printed on the third note.
        const std::vector<int> printed = planLine(hand, keys, {{hand, 4, keys[2], 0}}, costs);
        EXPECT_EQ(printed[2], 0);
    }
}

// With a second-order table in use, the programme's work grows with the length of the music and
// no faster: the same piece played one, two, four and eight times over costs proportionally, the
// finger triples at most 125 per onset and pass, and the moves between neighbours within what the
// fitted planning without the table may take (four passes of the hand-set programme).
TEST_F(FittedSecond, WorkStaysLinearWithTheSecondOrder) {
    size_t triples = 0;
    auto table = std::make_unique<fitted::SecondOrder>(
        fitted::fitSecondOrder(trainingCounts(&triples), 5.0, 0.2f));
    const CorpusPiece piece = readPiece("mutopia-mozartwa-k545-1.tsv");
    const std::vector<PlacedNote> notes = fillGrids(piece);
    const std::vector<NoteEvent> right = rightNotes, left = leftNotes;
    size_t once = 0;
    for (int times : {1, 2, 4, 8}) {
        SCOPED_TRACE(times);
        test_support::layRepeated(right, left, times);
        planHandsOptimal({}, OptimalCosts::HandSet);
        const size_t handSet = optimalPlanSteps();
        test_support::layRepeated(right, left, times);
        fitted::useSecondOrder(table.get());
        planHandsOptimal({});
        const size_t moves = optimalPlanSteps();
        const size_t second = optimalSecondOrderSteps();
        fitted::useSecondOrder(nullptr);
        EXPECT_LE(moves, 4 * handSet);
        EXPECT_LE(second, 125 * 4 * notes.size() * times);
        if (times == 1) {
            once = second;
            ASSERT_GT(once, 1000u);
            continue;
        }
        EXPECT_LE(static_cast<double>(second) / (times * once), 4.0);
    }
}

// The hand-place rule: on lines of random steps and leaps (no figure repeats, so each planning is
// one exact programme), a larger rule never leaves the thumb's place moving further across the
// crossings it prices, in either hand; and the largest moves it less than none at all.
TEST_F(FittedSecond, LargerHandPlaceRuleNeverMovesTheHandMore) {
    auto costs = std::make_unique<fitted::Costs>(fitted::embeddedCosts());
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> step(-7, 7);
    int fewer = 0;
    for (int line = 0; line < 12; ++line) {
        const int hand = line % 2;
        std::vector<int32_t> keys = {hand == 0 ? 44 : 32};
        for (int i = 1; i < 48; ++i) {
            int32_t next = keys.back() + step(random);
            next = std::clamp(next, hand == 0 ? 36 : 12, hand == 0 ? 72 : 48);
            keys.push_back(next == keys.back() ? next + 1 : next);
        }
        int before = -1, first = 0;
        for (float size : {0.0f, 0.25f, 0.5f, 1.0f, 2.0f}) {
            costs->rule[hand == 0 ? fitted::kRuleShiftRight : fitted::kRuleShiftLeft] = size;
            const std::vector<int> fingers = planLine(hand, keys, {}, *costs);
            for (int f : fingers) {
                ASSERT_GE(f, 0);
            }
            const int shift = shiftOverCrossings(hand, keys, fingers);
            if (before >= 0) {
                EXPECT_LE(shift, before) << "line " << line << " rule " << size;
            } else {
                first = shift;
            }
            before = shift;
        }
        fewer += before < first ? 1 : 0;
    }
    EXPECT_GE(fewer, 6);
}

}  // namespace
