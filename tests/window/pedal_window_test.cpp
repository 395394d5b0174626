// The sustain pedal of the new look in a real window: drawn in the top right corner, brass and
// low while held, grey and level while up, on its way down half way after half its move.

#include <gtest/gtest.h>

#include <cstdlib>

#include "look/look_frame.h"
#include "render/look_gl.h"
#include "window/window_fixture.h"

namespace {
// Pixels of the top right quarter of the picture's top fifth close to a colour, and the lowest
// row (from the top) holding one at the pedal's front end, the picture's last 4 % of columns;
// GL's rows run from the bottom.
struct Found {
    int count = 0;
    int lowest = -1;
};
Found corner(const window_test::Picture& p, int r, int g, int b) {
    Found found;
    for (int y = p.height * 4 / 5; y < p.height; ++y) {
        for (int x = p.width * 3 / 4; x < p.width; ++x) {
            const unsigned char* c = p.at(x, y);
            if (std::abs(c[0] - r) < 40 && std::abs(c[1] - g) < 40 && std::abs(c[2] - b) < 40) {
                ++found.count;
                if (x >= p.width * 96 / 100) {
                    found.lowest = std::max(found.lowest, p.height - 1 - y);
                }
            }
        }
    }
    return found;
}

window_test::Picture drawAt(const LookPerformance& performance, double seconds) {
    const LookPicture picture = lookPictureAt(performance, LookView::Player, window_test::kWidth,
                                              window_test::kHeight, seconds);
    drawLookFrame(picture, performance, LookPalette{});
    return window_test::readPicture(GL_BACK);
}
}  // namespace

TEST(PedalWindow, ThePedalInTheCornerGoesDownWhileHeld) {
    window_test::ensureWindow();
    LookPerformance performance;
    performance.notes.push_back({0, 0, 39, 0.0, 2.0, 2.0, false});
    performance.pedal = {{0.5, 1.0f}, {2.0, 0.0f}};
    performance.duration = 3.0;
    planLookHands(&performance);
    EXPECT_FLOAT_EQ(lookPedalAt(performance, 0.4), 0.0f);
    EXPECT_NEAR(lookPedalAt(performance, 0.5 + kPedalMoveSeconds / 2), 0.5f, 1e-6);
    EXPECT_FLOAT_EQ(lookPedalAt(performance, 1.0), 1.0f);
    EXPECT_FLOAT_EQ(lookPedalAt(performance, 2.5), 0.0f);

    const window_test::Picture up = drawAt(performance, 0.4);
    const window_test::Picture down = drawAt(performance, 1.0);
    const window_test::Picture half = drawAt(performance, 0.5 + kPedalMoveSeconds / 2);
    const Found upGrey = corner(up, 140, 140, 153);
    const Found downBrass = corner(down, 245, 199, 82);
    EXPECT_GT(upGrey.count, 100);
    EXPECT_EQ(corner(up, 245, 199, 82).count, 0);
    EXPECT_GT(downBrass.count, 100);
    EXPECT_GT(downBrass.lowest, upGrey.lowest + 5);  // the front went down
    // Half way: neither all grey nor all brass, and between the two depths.
    const Found halfAny = corner(half, 200, 170, 118);
    EXPECT_GT(halfAny.count, 50);
    EXPECT_GT(halfAny.lowest, upGrey.lowest);
    EXPECT_LT(halfAny.lowest, downBrass.lowest);

    // No pedal in the performance: nothing in the corner.
    performance.pedal.clear();
    const window_test::Picture none = drawAt(performance, 1.0);
    EXPECT_EQ(corner(none, 245, 199, 82).count + corner(none, 140, 140, 153).count, 0);
}
