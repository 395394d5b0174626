// The pedal and the one-hand practice in the new look's pictures, drawn by the program without
// a display: the pedal in the corner is brass and low while held, grey and level while up, and
// absent from a score without pedal; with --hand right the left hand is not drawn while its keys
// still go down.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/png_file.h"
#include "export_fixture.h"

namespace {
const std::string kPiece = QUORVEL_SOURCE_DIR "/tests/data/performance/dynamics_marks.xml";

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    // Pixels in the box (fractions of the picture) close to the colour, within 40 per channel.
    int count(float x0, float y0, float x1, float y1, int r, int g, int b) const {
        int n = 0;
        for (int y = static_cast<int>(y0 * height); y < static_cast<int>(y1 * height); ++y) {
            for (int x = static_cast<int>(x0 * width); x < static_cast<int>(x1 * width); ++x) {
                const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                if (std::abs(p[0] - r) < 40 && std::abs(p[1] - g) < 40 && std::abs(p[2] - b) < 40) {
                    ++n;
                }
            }
        }
        return n;
    }
    // The lowest row (fraction) in the box holding the colour; -1 when none.
    float lowest(float x0, float y0, float x1, float y1, int r, int g, int b) const {
        float found = -1.0f;
        for (int y = static_cast<int>(y0 * height); y < static_cast<int>(y1 * height); ++y) {
            for (int x = static_cast<int>(x0 * width); x < static_cast<int>(x1 * width); ++x) {
                const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                if (std::abs(p[0] - r) < 40 && std::abs(p[1] - g) < 40 && std::abs(p[2] - b) < 40) {
                    found = static_cast<float>(y) / height;
                }
            }
        }
        return found;
    }
};

Picture still(const std::string& folder, const std::string& name, const std::string& at,
              const std::string& extra, const std::string& score = kPiece) {
    const std::string png = folder + "/" + name + ".png";
    const std::string command = "env -u DISPLAY '" + std::string(QUORVEL_EXE) + "' --still '" +
                                png + "' --at " + at + " --size 640x360 " + extra + " '" + score +
                                "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    Picture p;
    std::string error;
    EXPECT_TRUE(readPng(png, &p.width, &p.height, &p.rgb, &error)) << error;
    return p;
}
}  // namespace

TEST(PedalStill, ThePedalGoesDownWhileHeldAndOneHandIsDrawnAlone) {
    const std::string folder = export_test::makeFolder();
    // Quarter 2: the pedal is down since the start; quarter 11: lifted at 10.
    const Picture down = still(folder, "down", "2", "--prepare");
    const Picture up = still(folder, "up", "11", "--prepare");
    const Picture none = still(folder, "none", "2", "--prepare",
                               QUORVEL_SOURCE_DIR "/tests/data/prepare/voices.xml");
    ASSERT_EQ(down.width, 640);
    // The corner: brass while held, grey while up, neither without a pedal.
    const float c[4] = {0.75f, 0.0f, 1.0f, 0.2f};
    EXPECT_GT(down.count(c[0], c[1], c[2], c[3], 245, 199, 82), 150);
    EXPECT_EQ(up.count(c[0], c[1], c[2], c[3], 245, 199, 82), 0);
    EXPECT_GT(up.count(c[0], c[1], c[2], c[3], 140, 140, 153), 150);
    EXPECT_EQ(none.count(c[0], c[1], c[2], c[3], 245, 199, 82), 0);
    EXPECT_EQ(none.count(c[0], c[1], c[2], c[3], 140, 140, 153), 0);
    // The pedal's front is lower while held.
    EXPECT_GT(down.lowest(0.95f, c[1], c[2], c[3], 245, 199, 82),
              up.lowest(0.95f, c[1], c[2], c[3], 140, 140, 153));

    // --hand right: the left hand (left half of the picture, below the keys' front) is not
    // drawn, the right one is; the left hand's key is still lit in its colour.
    const Picture both = still(folder, "both", "11", "--prepare");
    const Picture right = still(folder, "right", "11", "--prepare --hand right");
    const int skin[3] = {204, 153, 128};
    const int bothLeft = both.count(0.0f, 0.8f, 0.5f, 1.0f, skin[0], skin[1], skin[2]);
    EXPECT_GT(bothLeft, 500);
    EXPECT_LT(right.count(0.0f, 0.8f, 0.5f, 1.0f, skin[0], skin[1], skin[2]), bothLeft / 20);
    EXPECT_GT(right.count(0.5f, 0.8f, 1.0f, 1.0f, skin[0], skin[1], skin[2]), 500);
    const int orange[3] = {250, 148, 26};
    EXPECT_GT(right.count(0.0f, 0.75f, 0.5f, 0.92f, orange[0], orange[1], orange[2]), 100);
    export_test::removeFolder(folder);
}
