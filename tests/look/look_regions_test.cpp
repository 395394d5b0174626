// Where the edge pass runs. Over many random sets of boxes, the disjoint cover holds every pixel
// of the boxes (clipped to the picture) exactly once and nothing else. Over the bundled sonata,
// from every camera and in portrait, every pixel the keyboard's and both hands' triangles reach,
// with the neighbours the pass blends it with, lies in the regions, so the pass leaves out only
// empty strip. A cover of boxes less other boxes holds exactly the pixels of the first and none
// of the second, and a cover of boxes within others those of both; the keyboard's runs said to meet
// a set of rectangles include every run with a vertex inside one.

#include "look/look_regions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "geometry/key_layout.h"
#include "look/look_camera.h"
#include "score/musicxml_reader.h"
#include "support/sonata_look.h"
#include "timeline/timeline.h"

namespace {
// How many rectangles of `cover` hold the pixel.
int holders(const std::vector<PixelRect>& cover, int x, int y) {
    int count = 0;
    for (const PixelRect& r : cover) {
        count += x >= r.left && x < r.right && y >= r.top && y < r.bottom ? 1 : 0;
    }
    return count;
}
}  // namespace

TEST(LookRegions, DisjointCoverHoldsEveryPixelOfTheBoxesOnce) {
    std::mt19937 random(17);
    constexpr int kWidth = 48;
    constexpr int kHeight = 36;
    std::uniform_int_distribution<int> column(-10, kWidth + 10);
    std::uniform_int_distribution<int> row(-10, kHeight + 10);
    std::uniform_int_distribution<int> count(0, 9);
    size_t merged = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<PixelRect> boxes;
        const int n = count(random);
        for (int i = 0; i < n; ++i) {
            // Some empty or inverted, some past the edges.
            boxes.push_back({column(random), row(random), column(random), row(random)});
        }
        const std::vector<PixelRect> cover = disjointCover(boxes, kWidth, kHeight);
        int covered = 0;
        for (int y = -2; y < kHeight + 2; ++y) {
            for (int x = -2; x < kWidth + 2; ++x) {
                bool inBox = x >= 0 && x < kWidth && y >= 0 && y < kHeight;
                bool inAny = false;
                for (const PixelRect& b : boxes) {
                    inAny = inAny || (x >= b.left && x < b.right && y >= b.top && y < b.bottom);
                }
                const int expected = inBox && inAny ? 1 : 0;
                ASSERT_EQ(holders(cover, x, y), expected)
                    << "trial " << trial << " pixel " << x << "," << y;
                covered += expected;
            }
        }
        for (const PixelRect& r : cover) {
            ASSERT_LT(r.left, r.right);
            ASSERT_LT(r.top, r.bottom);
        }
        // Runs that go on unchanged down the bands are one rectangle: never more rectangles
        // than pixels, and a single box stays one.
        ASSERT_LE(static_cast<int>(cover.size()), std::max(covered, 0));
        merged += cover.size();
    }
    EXPECT_GT(merged, 0u);
    const std::vector<PixelRect> one = disjointCover({{3, 4, 20, 30}}, kWidth, kHeight);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].left, 3);
    EXPECT_EQ(one[0].bottom, 30);
}

TEST(LookRegions, EveryDrawnPixelOfTheSonataLiesInTheRegions) {
    LookPerformance performance;
    ASSERT_TRUE(sonataLookPerformance(&performance));
    const LookPalette palette;
    const struct {
        LookView view;
        int width;
        int height;
    } shapes[] = {{LookView::Player, 1280, 720},
                  {LookView::Above, 1280, 720},
                  {LookView::Side, 1280, 720},
                  {LookView::Follow, 1920, 1080},
                  {LookView::Player, 1080, 1920}};
    long strip = 0;
    long regions = 0;
    for (const auto& shape : shapes) {
        for (int i = 0; i < 60; ++i) {
            const double t = performance.duration * i / 60.0;
            const LookPicture picture =
                lookPictureAt(performance, shape.view, shape.width, shape.height, t);
            LookMesh keys;
            LookMesh hands[2];
            addKeyboard(picture.frame, palette, &keys);
            for (int h = 0; h < 2; ++h) {
                addHand(picture.hands[h], palette, &hands[h]);
            }
            const LookMesh* const handList[2] = {&hands[0], &hands[1]};
            const std::vector<PixelRect> cover = sceneRegions(picture, handList, 2);
            for (const LookMesh* mesh : {&keys, &hands[0], &hands[1]}) {
                for (const MeshVertex& v : mesh->vertices) {
                    double column = 0.0;
                    double row = 0.0;
                    ASSERT_TRUE(projectLook(picture.camera, {v.x, v.y, v.z}, &column, &row));
                    const int x = static_cast<int>(std::floor(column));
                    const int y = static_cast<int>(std::floor(row));
                    // The pixel and the neighbours the pass blends it with, where they are in
                    // the picture.
                    for (const auto& [dx, dy] :
                         {std::pair{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                        const int px = x + dx;
                        const int py = y + dy;
                        if (px < 0 || py < 0 || px >= shape.width || py >= shape.height) {
                            continue;
                        }
                        ASSERT_EQ(holders(cover, px, py), 1)
                            << "pixel " << px << "," << py << " at " << t << " s";
                    }
                }
            }
            int top = 0;
            int bottom = 0;
            sceneRows(picture, &top, &bottom);
            strip += static_cast<long>(bottom - top) * shape.width;
            for (const PixelRect& r : cover) {
                regions += static_cast<long>(r.right - r.left) *
                           std::max(0, std::min(r.bottom, bottom) - std::max(r.top, top));
            }
        }
    }
    // The point of it: the regions leave out a real share of the strip.
    EXPECT_LT(regions, strip * 0.95) << regions << " of " << strip;
}

TEST(LookRegions, CoversWithoutAndWithinHoldThePixelsOutsideAndInsideTheCutOnce) {
    std::mt19937 random(29);
    constexpr int kWidth = 40;
    constexpr int kHeight = 30;
    std::uniform_int_distribution<int> column(-8, kWidth + 8);
    std::uniform_int_distribution<int> row(-8, kHeight + 8);
    std::uniform_int_distribution<int> count(0, 7);
    long kept = 0;
    long cutAway = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<PixelRect> lists[2];
        for (auto& list : lists) {
            const int n = count(random);
            for (int i = 0; i < n; ++i) {
                list.push_back({column(random), row(random), column(random), row(random)});
            }
        }
        const std::vector<PixelRect> cover = coverWithout(lists[0], lists[1], kWidth, kHeight);
        const std::vector<PixelRect> within = coverWithin(lists[0], lists[1], kWidth, kHeight);
        for (int y = -2; y < kHeight + 2; ++y) {
            for (int x = -2; x < kWidth + 2; ++x) {
                bool in[2] = {false, false};
                for (int l = 0; l < 2; ++l) {
                    for (const PixelRect& b : lists[l]) {
                        in[l] = in[l] || (x >= b.left && x < b.right && y >= b.top && y < b.bottom);
                    }
                }
                const bool inside = x >= 0 && x < kWidth && y >= 0 && y < kHeight;
                const int expected = inside && in[0] && !in[1] ? 1 : 0;
                ASSERT_EQ(holders(cover, x, y), expected)
                    << "trial " << trial << " pixel " << x << "," << y;
                ASSERT_EQ(holders(within, x, y), inside && in[0] && in[1] ? 1 : 0)
                    << "trial " << trial << " pixel " << x << "," << y;
                kept += expected;
                cutAway += inside && in[0] && in[1] ? 1 : 0;
            }
        }
    }
    // Both kinds of pixel were met often.
    EXPECT_GT(kept, 5000);
    EXPECT_GT(cutAway, 5000);
}

TEST(LookRegions, TheKeyRunsMeetingRectanglesHoldEveryKeyInsideThem) {
    LookPerformance performance;
    ASSERT_TRUE(sonataLookPerformance(&performance));
    const LookPalette palette;
    std::mt19937 random(5);
    constexpr size_t kRun = 30;  // one key's solid
    long inside = 0;
    long drawn = 0;
    long all = 0;
    for (LookView view : {LookView::Player, LookView::Side, LookView::Above}) {
        for (int i = 0; i < 40; ++i) {
            const LookPicture picture =
                lookPictureAt(performance, view, 1280, 720, performance.duration * i / 40.0);
            LookMesh keys;
            addKeyboard(picture.frame, palette, &keys);
            std::uniform_int_distribution<int> x(0, 1280);
            std::uniform_int_distribution<int> y(0, 720);
            std::vector<PixelRect> rects;
            for (int r = 0; r < 3; ++r) {
                const int left = x(random);
                const int top = y(random);
                rects.push_back({left, top, left + 60, top + 40});
            }
            const auto ranges = runsMeeting(picture.camera, keys, kRun, rects);
            std::vector<bool> taken(keys.vertices.size(), false);
            size_t end = 0;
            for (const auto& [first, count] : ranges) {
                ASSERT_GE(first, end);  // in the mesh's order, apart
                ASSERT_EQ(first % kRun, 0u);
                end = first + count;
                ASSERT_LE(end, keys.vertices.size());
                std::fill(taken.begin() + first, taken.begin() + end, true);
                drawn += count;
            }
            all += keys.vertices.size();
            for (size_t v = 0; v < keys.vertices.size(); ++v) {
                double column = 0.0;
                double row = 0.0;
                const MeshVertex& p = keys.vertices[v];
                ASSERT_TRUE(projectLook(picture.camera, {p.x, p.y, p.z}, &column, &row));
                for (const PixelRect& r : rects) {
                    if (column >= r.left && column < r.right && row >= r.top && row < r.bottom) {
                        ++inside;
                        ASSERT_TRUE(taken[v]) << "vertex " << v << " at " << column << "," << row;
                    }
                }
            }
        }
    }
    EXPECT_GT(inside, 100);
    // The point of it: most keys are left out.
    EXPECT_LT(drawn, all / 2);
}
