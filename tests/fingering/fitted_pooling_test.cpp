// What the fitted tables lean on where their own counts are few: each hand's cells pooled with
// both hands' counts by a prior count of its own, and the learning averaged over several runs or
// drawn back towards the counts. At their default the settings leave every table as it was; set,
// they move the cells as the formulas say and nowhere else.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/state.h"
#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"
#include "fingering/fitted_learning.h"
#include "fingering/optimal_planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"
#include "support/training_pieces.h"

namespace {

using fitted::Costs;
using fitted::Counts;

// The compiled-in weights with neither hand pooled but by the smoothing, and weight k at v.
std::array<float, fitted::kWeightCount> weightsWith(int k, float v) {
    std::array<float, fitted::kWeightCount> w = fitted::embeddedCosts().weight;
    w[fitted::kPoolingRight] = w[fitted::kPoolingLeft] = 0.0f;
    w[k] = v;
    return w;
}

bool sameTables(const Costs& a, const Costs& b) {
    return a.transition == b.transition && a.chord == b.chord && a.start == b.start &&
           a.figure == b.figure && a.place == b.place;
}

// The largest difference between two tables' cells, and between `a` and `b` drawn `share` of the
// way to `c`.
template <typename F>
float largest(const Costs& a, const Costs& b, const Costs& c, F expected) {
    float worst = 0.0f;
    auto each = [&](const auto& x, const auto& y, const auto& z) {
        for (size_t i = 0; i < x.size(); ++i) {
            worst = std::max(worst, std::fabs(x[i] - expected(y[i], z[i])));
        }
    };
    each(a.transition, b.transition, c.transition);
    each(a.chord, b.chord, c.chord);
    each(a.start, b.start, c.start);
    each(a.figure, b.figure, c.figure);
    each(a.place, b.place, c.place);
    return worst;
}

TEST(FittedPooling, EachHandLeansOnBothHandsCountsByItsOwnPriorCount) {
    // A step up of two white keys after the thumb: the right hand plays it 1-2 forty times, the
    // left hand 1-3 twice.
    Counts counts;
    const int right = fitted::transitionIndex(0, 2, 0, 0, 0, 0);
    const int left = fitted::transitionIndex(1, 2, 0, 0, 0, 0);
    counts.transition[right + 1] = 40.0;
    counts.transition[left + 2] = 2.0;
    const fitted::Rules& rules = fitted::handSetRules();
    constexpr double kSmoothing = 5.0;

    // 0 takes the smoothing, whatever the table: the tables of today.
    const Costs today =
        fitted::fitCosts(counts, kSmoothing, weightsWith(fitted::kPoolingLeft, 0), rules);
    std::array<float, fitted::kWeightCount> same = weightsWith(fitted::kPoolingLeft, 5.0f);
    same[fitted::kPoolingRight] = 5.0f;
    EXPECT_TRUE(sameTables(fitted::fitCosts(counts, kSmoothing, same, rules), today));

    // The left hand's 1-2 gets cheaper the more it leans on both hands' counts, its own 1-3 dearer;
    // with little pooling its own counts win, with much the right hand's many do.
    float before = 1e9f, ownBefore = -1.0f;
    for (float k : {0.25f, 1.0f, 5.0f, 20.0f, 100.0f, 1000.0f}) {
        const Costs c =
            fitted::fitCosts(counts, kSmoothing, weightsWith(fitted::kPoolingLeft, k), rules);
        EXPECT_LT(c.transition[left + 1], before) << k;
        EXPECT_GT(c.transition[left + 2], ownBefore) << k;
        before = c.transition[left + 1];
        ownBefore = c.transition[left + 2];
        // The right hand's cells do not move with the left hand's pooling.
        for (int hand0 = 0; hand0 < fitted::kTransitionSize / fitted::kHands; ++hand0) {
            ASSERT_EQ(c.transition[hand0], today.transition[hand0]) << k;
        }
        // Probabilities still: every context's five fingers sum to one.
        double sum = 0.0;
        for (int f = 0; f < fitted::kFingers; ++f) {
            sum += std::exp(-static_cast<double>(c.transition[left + f]));
        }
        EXPECT_NEAR(sum, 1.0, 0.02) << k;
        if (k <= 0.25f) {
            EXPECT_LT(c.transition[left + 2], c.transition[left + 1]);
        }
        if (k >= 100.0f) {
            EXPECT_LT(c.transition[left + 1], c.transition[left + 2]);
            // Nearly the pooled estimate: 40 of 42 both hands' counts, smoothed by 5 towards the
            // coarser levels, which hold the same counts.
            EXPECT_NEAR(std::exp(-c.transition[left + 1]), 40.0 / 42.0, 0.05);
        }
    }
    // Likewise the right hand's own pooling moves its cells only.
    const Costs rightPooled =
        fitted::fitCosts(counts, kSmoothing, weightsWith(fitted::kPoolingRight, 1000.0f), rules);
    EXPECT_GT(rightPooled.transition[right + 1], today.transition[right + 1]);
    EXPECT_EQ(rightPooled.transition[left + 1], today.transition[left + 1]);
}

class FittedLearningRuns : public ::testing::Test {
protected:
    void SetUp() override {
        buildKeyLayout();
        setStartValues();
        createKeyStates();
        ASSERT_TRUE(test_support::readMutopiaTraining(true, &pieces));
        ASSERT_GE(pieces.size(), 4u);
        pieces.resize(4);  // a few pieces keep the runs short
        for (const CorpusPiece& p : pieces) {
            learnFrom.push_back(&p);
            countFingerings(printedFingers(fillGrids(p)), &counts);
        }
    }

    // The counted table with the learning's settings at their defaults, weight k (if any) at v.
    Costs counted(int k = -1, float v = 0.0f) const {
        const Costs& compiled = fitted::embeddedCosts();
        std::array<float, fitted::kWeightCount> w = compiled.weight;
        w[fitted::kLearningBags] = 0.0f;
        w[fitted::kLearningResample] = 0.0f;
        w[fitted::kLearningPull] = 0.0f;
        if (k >= 0) {
            w[k] = v;
        }
        return fitted::fitCosts(counts, 5.0, w, compiled.rule);
    }

    std::vector<CorpusPiece> pieces;
    std::vector<const CorpusPiece*> learnFrom;
    Counts counts;
};

TEST_F(FittedLearningRuns, SeveralRunsAverageTheirTablesAndOneRunIsTheLearningOfToday) {
    const Costs base = counted();
    const Costs once = fitted::learnCosts(base, learnFrom, 2, 0.02f);
    ASSERT_FALSE(sameTables(once, base)) << "the pieces teach nothing";
    // One run is the learning as it was.
    const Costs one = fitted::learnCosts(counted(fitted::kLearningBags, 1.0f), learnFrom, 2, 0.02f);
    EXPECT_TRUE(sameTables(one, once));

    // Several runs over other orders: another table, the same on every refit, and every note of
    // every piece still fingered with it.
    const Costs runs =
        fitted::learnCosts(counted(fitted::kLearningBags, 3.0f), learnFrom, 2, 0.02f);
    EXPECT_FALSE(sameTables(runs, once));
    const Costs again =
        fitted::learnCosts(counted(fitted::kLearningBags, 3.0f), learnFrom, 2, 0.02f);
    EXPECT_TRUE(sameTables(runs, again));
    for (const CorpusPiece& p : pieces) {
        test_support::planEveryNote(p, runs);
    }

    // A single piece has one order and one resample: every run learns the same table, and their
    // mean is it.
    const std::vector<const CorpusPiece*> single = {learnFrom.front()};
    const Costs alone = fitted::learnCosts(base, single, 2, 0.02f);
    ASSERT_FALSE(sameTables(alone, base));
    for (float resampled : {0.0f, 1.0f}) {
        Costs c = counted(fitted::kLearningBags, 4.0f);
        c.weight[fitted::kLearningResample] = resampled;
        const Costs mean = fitted::learnCosts(c, single, 2, 0.02f);
        EXPECT_LT(largest(mean, alone, alone, [](float a, float) { return a; }), 1e-4f)
            << "resampled " << resampled;
    }
    // Resampling several pieces draws other tables than the orders alone.
    Costs c = counted(fitted::kLearningBags, 3.0f);
    c.weight[fitted::kLearningResample] = 1.0f;
    EXPECT_FALSE(sameTables(fitted::learnCosts(c, learnFrom, 2, 0.02f), runs));
}

TEST_F(FittedLearningRuns, PullingBackDrawsEveryLearnedCellTowardsItsCount) {
    // Without the place table no edges are kept, so the pull alone decides.
    Costs base = counted();
    base.weight[fitted::kPlaceWeight] = 0.0f;
    const Costs learned = fitted::learnCosts(base, learnFrom, 2, 0.02f);
    ASSERT_FALSE(sameTables(learned, base));
    for (float pull : {0.25f, 0.5f, 1.0f}) {
        Costs c = base;
        c.weight[fitted::kLearningPull] = pull;
        const Costs pulled = fitted::learnCosts(c, learnFrom, 2, 0.02f);
        EXPECT_LT(
            largest(pulled, learned, base, [pull](float l, float b) { return l + pull * (b - l); }),
            1e-4f)
            << pull;
    }
}

}  // namespace
