// Frames drawn over the kept picture of the keyboard at rest are the frames drawn whole: over
// the bundled sonata, from every camera that stands still, in landscape, portrait and the
// video's size, each frame is drawn both ways in turn and compared pixel for pixel; and the
// kept picture was really used (the frames drawn over it are counted). The follow camera, which
// moves, is drawn whole but where it rests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/headless_gl.h"
#include "look/look_frame.h"
#include "render/look_gl.h"
#include "support/sonata_look.h"

namespace {
struct Drawn {
    std::vector<uint8_t> rgba;
    bool overRest = false;
};

Drawn draw(const LookPerformance& performance, LookView view, int width, int height, double seconds,
           bool keep) {
    keepLookKeyboardAtRest(keep);
    const LookPicture picture = lookPictureAt(performance, view, width, height, seconds);
    drawLookFrame(picture, performance, LookPalette());
    Drawn drawn;
    drawn.overRest = lookFrameDrawnOverRest();
    std::string error;
    EXPECT_TRUE(readHeadlessPixels(&drawn.rgba, &error)) << error;
    return drawn;
}
}  // namespace

TEST(LookKeyboardAtRest, FramesDrawnOverItAreTheFramesDrawnWhole) {
    LookPerformance performance;
    ASSERT_TRUE(sonataLookPerformance(&performance));
    const struct {
        LookView view;
        int width;
        int height;
    } shapes[] = {{LookView::Player, 1920, 1080}, {LookView::Above, 1280, 720},
                  {LookView::Side, 1280, 720},    {LookView::Player, 1080, 1920},
                  {LookView::Player, 1280, 720},  {LookView::Follow, 1280, 720}};
    constexpr int kMoments = 36;
    for (const auto& shape : shapes) {
        std::string error;
        ASSERT_TRUE(openHeadless(shape.width, shape.height, &error)) << error;
        int overRest = 0;
        for (int i = 0; i < kMoments; ++i) {
            // Moments across the piece, and pairs a frame apart, as a video draws them.
            const double t = performance.duration * (i / 2) / (kMoments / 2) + (i % 2) / 60.0;
            const Drawn kept = draw(performance, shape.view, shape.width, shape.height, t, true);
            const Drawn whole = draw(performance, shape.view, shape.width, shape.height, t, false);
            EXPECT_FALSE(whole.overRest);
            overRest += kept.overRest ? 1 : 0;
            ASSERT_EQ(kept.rgba.size(), whole.rgba.size());
            long differing = 0;
            int firstX = -1;
            int firstY = -1;
            for (size_t p = 0; p + 3 < kept.rgba.size(); p += 4) {
                if (kept.rgba[p] != whole.rgba[p] || kept.rgba[p + 1] != whole.rgba[p + 1] ||
                    kept.rgba[p + 2] != whole.rgba[p + 2]) {
                    if (differing++ == 0) {
                        firstX = static_cast<int>(p / 4 % shape.width);
                        firstY = static_cast<int>(p / 4 / shape.width);
                    }
                }
            }
            EXPECT_EQ(differing, 0)
                << "view " << static_cast<int>(shape.view) << " at " << shape.width << "x"
                << shape.height << ", " << t << " s: first at " << firstX << "," << firstY;
        }
        if (shape.view == LookView::Side) {
            // Its strip ends above the picture's bottom edge at times; then it is drawn whole.
            EXPECT_GE(overRest, kMoments / 2);
        } else if (shape.view != LookView::Follow) {
            // Every frame but the first of each size had a still camera before it.
            EXPECT_EQ(overRest, kMoments - 1) << static_cast<int>(shape.view);
        }
        closeHeadless();
    }
    keepLookKeyboardAtRest(true);
}
