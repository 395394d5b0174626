// The still of any moment of a notation program's export is the video's frame of that moment:
// with the score prepared, in the middle of eighth and sixteenth notes (positions between two
// ticks of the score), and the note sounding then is drawn down in both.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "export/export.h"
#include "export/png_file.h"
#include "export_fixture.h"
#include "geometry/key_layout.h"
#include "geometry/player_view.h"
#include "prepare/prepare.h"
#include "score/score_model.h"

using namespace export_test;

namespace {
constexpr int kWidth = 480;
constexpr int kHeight = 270;
constexpr int kFps = 30;

// Brightness of a 3 x 3 patch near the back of a white key's top, which no finger covers
// from above.
double keyBrightness(const std::vector<uint8_t>& rgb, int key) {
    double column = 0;
    double row = 0;
    EXPECT_TRUE(projectToPixel({KeyLayout[key].x, 0.15f, -0.6f}, kWidth, kHeight, &column, &row));
    double sum = 0;
    for (int y = static_cast<int>(row) - 1; y <= static_cast<int>(row) + 1; ++y) {
        for (int x = static_cast<int>(column) - 1; x <= static_cast<int>(column) + 1; ++x) {
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
            sum += p[0] + p[1] + p[2];
        }
    }
    return sum / 9.0;
}

std::vector<uint8_t> readPicture(const std::string& png) {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    std::string error;
    EXPECT_TRUE(readPng(png, &width, &height, &rgb, &error)) << error;
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    return rgb;
}
}  // namespace

namespace {
// One export of the prepared score in the classic scene or the new look, and stills in the middle
// of its eighth and sixteenth notes compared with the video's frames of those moments.
void checkStillsBetweenTicks(bool newLook) {
    PrepareResult prepared;
    ASSERT_TRUE(prepareScore(QUORVEL_SOURCE_DIR "/tests/data/real/divisions.mxl", PrepareOptions{},
                             &prepared))
        << prepared.error;
    rightNotes.clear();
    leftNotes.clear();
    ASSERT_TRUE(loadAndPlan(prepared.xml));
    const std::string folder = makeFolder();
    ExportRequest request;
    request.outputPath = folder + "/video.mp4";
    request.width = kWidth;
    request.height = kHeight;
    request.fps = kFps;
    request.camera = CameraView::Above;
    request.sound = false;
    request.newLook = newLook;
    ASSERT_EQ(exportVideo(prepared.xml, request), 0);

    // The timeline the export drew.
    ScoreTiming timing;
    std::string error;
    ASSERT_TRUE(readScoreTiming(prepared.xml.data(), prepared.xml.size(), &timing, &error));
    TimelineOptions options;
    options.leadIn = kExportLeadIn;
    options.leadOut = kExportLeadOut;
    const Timeline timeline = buildTimeline(timing, options);
    const std::vector<uint8_t> allUp = [&] {
        const std::string png = folder + "/first.png";
        commandOutput("ffmpeg -v error -y -i '" + request.outputPath + "' -frames:v 1 '" + png +
                      "'");
        return readPicture(png);
    }();

    // Eighth and sixteenth notes on white keys, each looked at on the video frame nearest the
    // middle of its sound, a position between two ticks of the score.
    int looked[2] = {0, 0};  // eighths, sixteenths
    for (const TimedNote& note : timeline.notes) {
        const int32_t length = note.endTick - note.tick;
        const int kind = length * 2 == timing.divisions   ? 0
                         : length * 4 == timing.divisions ? 1
                                                          : -1;
        if (kind < 0 || looked[kind] >= 3 || KeyLayout[note.key].black != 0.0f) {
            continue;
        }
        const long frame = std::lround((note.onset + note.release) / 2.0 * kFps);
        const double seconds = static_cast<double>(frame) / kFps;
        const double tick = tickAtTime(timeline, seconds);
        if (tick <= std::floor(tick) + 1e-6) {
            continue;  // on a tick: not the case this test is for
        }
        char at[64];
        std::snprintf(at, sizeof at, "%.12g", tick / timing.divisions);
        ExportRequest still = request;
        still.outputPath = folder + "/still.png";
        still.at = at;
        ASSERT_EQ(exportStill(prepared.xml, still), 0) << at;
        const std::vector<uint8_t> picture = readPicture(still.outputPath);

        const std::string png = folder + "/frame.png";
        char command[1024];
        std::snprintf(command, sizeof command,
                      "ffmpeg -v error -y -i '%s' -ss %.6f -frames:v 1 '%s'",
                      request.outputPath.c_str(), seconds, png.c_str());
        commandOutput(command);
        const std::vector<uint8_t> video = readPicture(png);

        EXPECT_LT(worstBlockDifference(picture, video, kWidth, kHeight), 16.0)
            << "at " << at << " (frame " << frame << ")" << (newLook ? " in the new look" : "");
        // The note sounding then is down in the still, as in the video (the classic scene's
        // keys darken; the new look's are lit in their hand's colour, checked by its own tests).
        if (!newLook) {
            EXPECT_LT(keyBrightness(picture, note.key), keyBrightness(allUp, note.key) * 0.85)
                << "key " << note.key << " at " << at;
        }
        ++looked[kind];
    }
    EXPECT_GE(looked[0], 1) << "eighth notes";
    EXPECT_GE(looked[1], 3) << "sixteenth notes";
    removeFolder(folder);
    // The reader appends to the grids: leave none behind for the next test of this process.
    rightNotes.clear();
    leftNotes.clear();
}
}  // namespace

TEST(ExportStill, OnAPreparedExportEveryStillBetweenTicksIsTheVideosFrame) {
    checkStillsBetweenTicks(false);
}

TEST(ExportStill, InTheNewLookEveryStillBetweenTicksIsTheVideosFrame) {
    checkStillsBetweenTicks(true);
}
