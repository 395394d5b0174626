#include <gtest/gtest.h>

#include <vector>

#include "fingering/fingering_corpus.h"

// The range a figure keeps over redraws of its pieces is what the benchmark and the fit print to
// say how much a dozen pieces can tell apart; these are the properties a reader relies on.

namespace {

MatchTally tally(size_t right, size_t rightMatched, size_t left, size_t leftMatched) {
    MatchTally t;
    t.notes[0] = right;
    t.matched[0] = rightMatched;
    t.notes[1] = left;
    t.matched[1] = leftMatched;
    return t;
}

}  // namespace

TEST(RedrawnRange, HoldsTheFigureItCanAndWidensWithThePiecesSpread) {
    // Pieces that all score alike leave nothing to draw: the range is their figure.
    const std::vector<MatchTally> alike(7, tally(30, 18, 10, 6));
    const FigureRange same = redrawnRange(alike);
    EXPECT_DOUBLE_EQ(same.low, 60.0);
    EXPECT_DOUBLE_EQ(same.high, 60.0);
    // A set beaten by itself gains nothing on any draw.
    const FigureRange none = redrawnRange(alike, alike);
    EXPECT_DOUBLE_EQ(none.low, 0.0);
    EXPECT_DOUBLE_EQ(none.high, 0.0);
    // Fewer than two pieces say nothing.
    const FigureRange one = redrawnRange({tally(10, 5, 0, 0)});
    EXPECT_DOUBLE_EQ(one.low, 0.0);
    EXPECT_DOUBLE_EQ(one.high, 0.0);

    // Pieces of very different figures: the whole set's figure lies inside the range, the range
    // inside the pieces' extremes, and a set of more such pieces narrows it.
    std::vector<MatchTally> spread, wider;
    MatchTally all;
    for (size_t i = 0; i < 12; ++i) {
        spread.push_back(tally(40 + 7 * i, 10 + 3 * i + (i % 3) * 9, 20 + i, 5 + i));
        all.add(spread.back());
    }
    for (int copies = 0; copies < 8; ++copies) {
        wider.insert(wider.end(), spread.begin(), spread.end());
    }
    const FigureRange r = redrawnRange(spread);
    const double whole = exactShare(all);
    EXPECT_LT(r.low, whole);
    EXPECT_GT(r.high, whole);
    EXPECT_GT(r.low, 20.0);
    EXPECT_LT(r.high, 80.0);
    const FigureRange w = redrawnRange(wider);
    EXPECT_LT(w.high - w.low, (r.high - r.low) * 0.6);
    EXPECT_LT(w.low, whole);
    EXPECT_GT(w.high, whole);
    // The generator is fixed: the same pieces give the same range on every run.
    const FigureRange again = redrawnRange(spread);
    EXPECT_DOUBLE_EQ(again.low, r.low);
    EXPECT_DOUBLE_EQ(again.high, r.high);

    // Paired: a planner that wins every piece by some notes gains on every draw, and the gain
    // keeps the sign whichever pieces are drawn.
    std::vector<MatchTally> better = spread;
    for (MatchTally& t : better) {
        t.matched[0] += 3;
    }
    const FigureRange gain = redrawnRange(better, spread);
    EXPECT_GT(gain.low, 0.0);
    EXPECT_LT(gain.high, 10.0);
    const FigureRange loss = redrawnRange(spread, better);
    EXPECT_NEAR(loss.low, -gain.high, 1e-9);
    EXPECT_NEAR(loss.high, -gain.low, 1e-9);
}
