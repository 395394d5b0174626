#include "geometry/key_layout.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyLayout, PositionsCarryTheSinglePrecisionAccumulation) {
    buildKeyLayout();
    struct Expected {
        int key;
        float black;
        double x;
    };
    // Key centres as the float accumulation leaves them, to six decimals.
    const Expected table[] = {{0, 0.0f, -8.19},     {1, 1.0f, -8.032499},  {2, 0.0f, -7.875},
                              {3, 0.0f, -7.559999}, {39, 0.0f, -0.945002}, {40, 1.0f, -0.787502},
                              {48, 0.0f, 0.629998}, {87, 0.0f, 7.874995}};
    for (const Expected& e : table) {
        SCOPED_TRACE(e.key);
        EXPECT_NEAR(KeyLayout[e.key].x, e.x, 0.5e-6);
        EXPECT_EQ(KeyLayout[e.key].black, e.black);
    }
    // The exact float values, not merely close ones: the step is a double added to a float.
    EXPECT_EQ(KeyLayout[0].x, -8.19f);
    EXPECT_EQ(KeyLayout[87].x, 7.87499523f);
    EXPECT_EQ(KeyLayout[39].x, -0.945002139f);
}

TEST(KeyLayout, ColoursFollowThePianoPattern) {
    buildKeyLayout();
    int white = 0;
    int black = 0;
    for (int key = 0; key < 88; ++key) {
        ASSERT_TRUE(KeyLayout[key].black == 0.0f || KeyLayout[key].black == 1.0f) << key;
        EXPECT_EQ(KeyLayout[key].black == 1.0f, isBlackKey(key)) << key;
        (KeyLayout[key].black == 1.0f ? black : white) += 1;
        if (key > 0) {
            EXPECT_GT(KeyLayout[key].x, KeyLayout[key - 1].x) << key;
        }
    }
    EXPECT_EQ(white, 52);
    EXPECT_EQ(black, 36);

    // A sharp 0, C sharp 1, D sharp 1, F sharp 1, G sharp 1; their neighbours are white.
    for (int key : {1, 4, 6, 9, 11}) {
        EXPECT_EQ(KeyLayout[key].black, 1.0f) << key;
    }
    for (int key : {0, 2, 3, 5, 7, 8, 10, 12, 87}) {
        EXPECT_EQ(KeyLayout[key].black, 0.0f) << key;
    }
    // The same pattern repeats every octave up to C8.
    for (int key = 3; key + 12 < 88; ++key) {
        EXPECT_EQ(KeyLayout[key].black, KeyLayout[key + 12].black) << key;
    }
}

TEST(KeyLayout, NeighbouringWhiteKeysAreAWholeKeyApart) {
    buildKeyLayout();
    // B0 / C1 and E1 / F1 have no black key between them.
    EXPECT_NEAR(KeyLayout[3].x - KeyLayout[2].x, 0.315, 1e-5);
    EXPECT_NEAR(KeyLayout[8].x - KeyLayout[7].x, 0.315, 1e-5);
    // A black key sits halfway between its white neighbours.
    EXPECT_NEAR(KeyLayout[1].x - KeyLayout[0].x, 0.1575, 1e-5);
    EXPECT_NEAR(KeyLayout[2].x - KeyLayout[1].x, 0.1575, 1e-5);
    // Octaves are seven white keys wide.
    EXPECT_NEAR(KeyLayout[51].x - KeyLayout[39].x, 7 * 0.315, 1e-4);
}

TEST(KeyLayout, BuildingTwiceGivesTheSameTable) {
    buildKeyLayout();
    KeyLayoutEntry first[88];
    for (int key = 0; key < 88; ++key) {
        first[key] = KeyLayout[key];
    }
    buildKeyLayout();
    for (int key = 0; key < 88; ++key) {
        EXPECT_EQ(KeyLayout[key].x, first[key].x) << key;
        EXPECT_EQ(KeyLayout[key].black, first[key].black) << key;
    }
}

}  // namespace
