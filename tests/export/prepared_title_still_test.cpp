// A prepared real export's title on the new look's opening still: the still of the prepared
// piece differs from the same still with the title and composer taken away only on the overlay's
// card in the upper middle of the picture, and there it shows light text.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "export/export.h"
#include "export/png_file.h"
#include "export_fixture.h"
#include "prepare/prepare.h"
#include "score/score_model.h"

using namespace export_test;

namespace {
constexpr int kWidth = 480;
constexpr int kHeight = 270;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

Picture openingStill(const PrepareResult& prepared, const Piece& shown, const std::string& folder) {
    rightNotes.clear();
    leftNotes.clear();
    EXPECT_TRUE(loadAndPlan(prepared.xml));
    ExportRequest request;
    request.outputPath = folder + "/opening.png";
    request.width = kWidth;
    request.height = kHeight;
    request.newLook = true;
    request.shown = &shown;
    request.piece = &prepared.piece;
    request.at = "0";
    EXPECT_EQ(exportStill(prepared.xml, request), 0);
    Picture picture;
    std::string error;
    EXPECT_TRUE(readPng(request.outputPath, &picture.width, &picture.height, &picture.rgb, &error))
        << error;
    return picture;
}
}  // namespace

TEST(PreparedTitleStill, TheOpeningStillShowsThePreparedScoresTitle) {
    PrepareResult prepared;
    ASSERT_TRUE(
        prepareScore(QUORVEL_SOURCE_DIR "/tests/data/real/pickup.mxl", PrepareOptions(), &prepared))
        << prepared.error;
    ASSERT_EQ(prepared.piece.title, "Pickup");
    Piece untitled = prepared.piece;
    untitled.title.clear();
    untitled.composer.clear();

    const std::string folder = makeFolder();
    ASSERT_FALSE(folder.empty());
    const Picture titled = openingStill(prepared, prepared.piece, folder);
    const Picture plain = openingStill(prepared, untitled, folder);
    removeFolder(folder);
    rightNotes.clear();
    leftNotes.clear();
    ASSERT_EQ(titled.width, kWidth);
    ASSERT_EQ(titled.height, kHeight);
    ASSERT_EQ(plain.rgb.size(), titled.rgb.size());

    size_t differ = 0;
    size_t light = 0;
    int top = kHeight, bottom = -1, left = kWidth, right = -1;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const size_t at = (static_cast<size_t>(y) * kWidth + x) * 3;
            const uint8_t* a = &titled.rgb[at];
            const uint8_t* b = &plain.rgb[at];
            if (std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])}) >
                8) {
                ++differ;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                left = std::min(left, x);
                right = std::max(right, x);
                light += std::min({a[0], a[1], a[2]}) > 180 ? 1 : 0;
            }
        }
    }
    // Something is drawn, with light text in it, ...
    EXPECT_GT(differ, 300u);
    EXPECT_GT(light, 30u);
    // ... only in the upper half, around the middle of the width.
    EXPECT_LT(bottom, kHeight / 2);
    EXPECT_LT(std::abs((left + right) / 2 - kWidth / 2), kWidth / 20) << left << " " << right;
    EXPECT_LT(right - left, kWidth * 3 / 4);
    EXPECT_GT(top, 0);
}
