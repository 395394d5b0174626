// The new look's pure parts: cameras that put the keyboard across the width of any picture,
// a lane whose bars meet their keys exactly at their onsets over a whole real performance, lit
// keys exactly while held, and the colours option.

#include "look/look_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "geometry/key_layout.h"
#include "look/look_camera.h"

namespace {
// A performance of scales in both hands with a leap, made directly in seconds.
LookPerformance scales() {
    LookPerformance p;
    double t = 1.0;
    for (int i = 0; i < 40; ++i) {
        const int right = 39 + (i % 15);
        const int left = 15 + (i % 12);
        p.notes.push_back({0, i % 5, right, t, t + 0.2, t + 0.22, i % 7 == 0});
        p.notes.push_back({1, 4 - i % 5, left, t, t + 0.4, t + 0.42, false});
        t += 0.25;
    }
    p.notes.push_back({0, 4, 87, t + 0.3, t + 1.0, t + 1.0, false});  // a leap to the top
    p.duration = t + 2.0;
    p.measures = {{1.0, "1"}, {3.0, "2"}, {5.0, "3"}};
    p.title = "Scales";
    planLookHands(&p);
    return p;
}
}  // namespace

TEST(LookCamera, TheFramedStretchSpansTheWidthOfEveryPicture) {
    buildKeyLayout();
    const int sizes[][2] = {{1280, 720}, {1920, 1080}, {1080, 1920}, {640, 480},
                            {500, 500},  {2560, 1080}, {16, 16}};
    for (LookView view : {LookView::Player, LookView::Above, LookView::Follow}) {
        for (const auto& size : sizes) {
            const LookCamera camera = makeLookCamera(view, size[0], size[1]);
            double left = 1e9, right = -1e9, lowest = -1e9;
            for (int key = 0; key < 88; ++key) {
                for (float z : {-0.825f, 0.825f}) {
                    for (float x : {KeyLayout[key].x - 0.15f, KeyLayout[key].x + 0.15f}) {
                        double column = 0, row = 0;
                        ASSERT_TRUE(projectLook(camera, {x, 0.15f, z}, &column, &row));
                        left = std::min(left, column);
                        right = std::max(right, column);
                        lowest = std::max(lowest, row);
                    }
                }
            }
            const std::string shape = std::to_string(size[0]) + "x" + std::to_string(size[1]);
            EXPECT_GE(left, -0.5) << shape;
            EXPECT_LE(right, size[0] + 0.5) << shape;
            EXPECT_GE((right - left) / size[0], 0.9) << shape;
            EXPECT_LE(lowest, size[1]) << shape << ": the keys' front is in the picture";
            const LaneLayout lane = layLane(camera, 1.0);
            EXPECT_GT(lane.bottom, 0.5 * size[1]) << shape << ": the lane has the upper part";
        }
    }
    float left = 0, right = 0;
    const LookPerformance p = scales();
    followRange(p, 3.0, &left, &right);
    EXPECT_GE(right - left, 14 * 0.315f - 1e-4f);
    EXPECT_LT(right - left, 12.0f);
    EXPECT_LE(left, KeyLayout[15].x);
    EXPECT_GE(right, KeyLayout[53].x);
}

TEST(LookLane, BarsMeetTheirKeysAtTheirOnsetsAndKeysLightWhileHeld) {
    const LookPerformance p = scales();
    for (double speed : {0.5, 1.0, 2.0}) {
        const LookCamera camera = makeLookCamera(LookView::Player, 1280, 720);
        const LaneLayout lane = layLane(camera, speed);
        // The lane shows the same music at every speed.
        EXPECT_NEAR((lane.bottom - lane.top) / lane.pixelsPerSecond, kLaneSecondsAhead / speed,
                    1e-6);
        for (double t = 0.0; t < p.duration; t += 1.0 / 50.0) {
            const LookFrame frame = lookFrameAt(p, lane, t);
            for (int key = 0; key < 88; ++key) {
                int held = -1;
                for (const LookNote& n : p.notes) {
                    if (n.key == key && n.onset <= t && t < n.keyUp) {
                        held = n.hand;
                    }
                }
                ASSERT_EQ(frame.keys[key].hand, held) << "key " << key << " at " << t;
            }
            for (const LookBar& bar : frame.bars) {
                const LaneColumn& column = lane.column[bar.key];
                ASSERT_EQ(bar.left, column.left);
                ASSERT_EQ(bar.right, column.right);
                ASSERT_LE(bar.bottom, column.bottom + 1e-3f);
                ASSERT_GE(bar.top, lane.top - 1e-3f);
                ASSERT_LT(bar.top, bar.bottom);
            }
            // Each coming note's bar: its lower end as far above the key as its onset is ahead.
            for (const LookNote& n : p.notes) {
                const double ahead = n.onset - t;
                if (ahead <= 0.0 || ahead * lane.pixelsPerSecond > lane.bottom - lane.top - 1) {
                    continue;
                }
                bool found = false;
                for (const LookBar& bar : frame.bars) {
                    if (bar.key == n.key && bar.hand == n.hand &&
                        std::fabs(bar.bottom - (lane.column[n.key].bottom -
                                                ahead * lane.pixelsPerSecond)) < 1e-2) {
                        found = true;
                        EXPECT_EQ(bar.finger, n.finger);
                        EXPECT_EQ(bar.printed, n.printed);
                    }
                }
                ASSERT_TRUE(found)
                    << "note on key " << n.key << " at " << n.onset << " seen from " << t;
            }
        }
    }
    const LaneLayout lane = layLane(makeLookCamera(LookView::Player, 1280, 720), 1.0);
    EXPECT_EQ(lookFrameAt(p, lane, 0.5).measure, "");
    EXPECT_EQ(lookFrameAt(p, lane, 3.5).measure, "2");
    EXPECT_EQ(lookFrameAt(p, lane, 0.0).titleOpacity, 1.0f);
    EXPECT_EQ(lookFrameAt(p, lane, 10.0).titleOpacity, 0.0f);
    EXPECT_NEAR(lookFrameAt(p, lane, p.duration / 2).progress, 0.5, 1e-9);
}

TEST(LookColours, TwoColoursOrAClearRefusal) {
    LookPalette palette;
    std::string error;
    ASSERT_TRUE(parsePalette("#FF0000,00ff80", &palette, &error)) << error;
    EXPECT_FLOAT_EQ(palette.hand[0].r, 1.0f);
    EXPECT_FLOAT_EQ(palette.hand[0].g, 0.0f);
    EXPECT_FLOAT_EQ(palette.hand[1].g, 1.0f);
    EXPECT_NEAR(palette.hand[1].b, 128.0f / 255.0f, 1e-6);
    for (const char* bad : {"", "FF0000", "FF0000,", "FF0000,00FF8", "FF0000,00FF800",
                            "GG0000,00FF80", "FF0000;00FF80", "FF0000,00FF80,"}) {
        LookPalette untouched;
        error.clear();
        EXPECT_FALSE(parsePalette(bad, &untouched, &error)) << bad;
        EXPECT_NE(error.find("--colors"), std::string::npos) << bad;
        EXPECT_FLOAT_EQ(untouched.hand[0].r, LookPalette().hand[0].r) << bad;
    }
    ASSERT_TRUE(parseSkin("#8D5524", &palette, &error)) << error;
    EXPECT_NEAR(palette.skin.r, 0x8D / 255.0f, 1e-6);
    EXPECT_NEAR(palette.skin.b, 0x24 / 255.0f, 1e-6);
    for (const char* bad : {"", "8D552", "8D5524,8D5524", "#8D55244", "skin"}) {
        error.clear();
        EXPECT_FALSE(parseSkin(bad, &palette, &error)) << bad;
        EXPECT_NE(error.find("--skin"), std::string::npos) << bad;
    }
}
