// Videos of a generated score with one note a second, looked at with FFmpeg's own tools: their
// streams and length, the keys seen down in frames taken at known times, the sound's attacks,
// and the still of a moment against the video's frame of that moment.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "export/export.h"
#include "export/png_file.h"
#include "export_fixture.h"
#include "geometry/camera.h"
#include "geometry/key_layout.h"
#include "geometry/player_view.h"
#include "score/score_model.h"

using namespace export_test;

namespace {
constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFps = 30;

// One export of the generated score, made once for all the tests below.
struct Exported {
    std::string folder;
    std::string video;
    std::string document;
    Timeline timeline;  // the same timeline the export drew
    int status = -1;
};

// Whether exported() has run, so the clean-up does not export just to remove it.
bool exportMade = false;

const Exported& exported() {
    static Exported made = [] {
        exportMade = true;
        Exported e;
        e.folder = makeFolder();
        e.video = e.folder + "/one note a second.mp4";
        e.document = oneNoteASecond();
        if (!loadAndPlan(e.document)) {
            return e;
        }
        ExportRequest request;
        request.outputPath = e.video;
        request.width = kWidth;
        request.height = kHeight;
        request.fps = kFps;
        request.camera = CameraView::Above;
        e.status = exportVideo(e.document, request);
        ScoreTiming timing;
        std::string error;
        readScoreTiming(e.document.data(), e.document.size(), &timing, &error);
        TimelineOptions options;
        options.leadIn = kExportLeadIn;
        options.leadOut = kExportLeadOut;
        e.timeline = buildTimeline(timing, options);
        return e;
    }();
    return made;
}

// Removes the export's folder once every test has looked at it.
class RemoveExported : public testing::Environment {
public:
    void TearDown() override {
        if (exportMade && !exported().folder.empty()) {
            removeFolder(exported().folder);
        }
    }
};
testing::Environment* const removeExported = testing::AddGlobalTestEnvironment(new RemoveExported);

// The onset of note n of the generated score, in seconds of the video.
double onsetOf(int n) {
    return timeOfTick(exported().timeline, n * 2);
}

// The frame of the video shown at `seconds`, as RGB rows from the top.
std::vector<uint8_t> frameAt(double seconds, int* width, int* height) {
    const std::string png = exported().folder + "/frame.png";
    char command[1024];
    std::snprintf(command, sizeof command, "ffmpeg -v error -y -i '%s' -ss %.6f -frames:v 1 '%s'",
                  exported().video.c_str(), seconds, png.c_str());
    commandOutput(command);
    std::vector<uint8_t> rgb;
    std::string error;
    EXPECT_TRUE(readPng(png, width, height, &rgb, &error)) << error;
    std::remove(png.c_str());
    return rgb;
}

// Mean brightness (0..765) of a 3 x 3 patch at the pixel where the camera sees a scene point.
double brightnessAt(const std::vector<uint8_t>& rgb, int width, int height, Point3 point) {
    double column = 0;
    double row = 0;
    EXPECT_TRUE(projectToPixel(point, width, height, &column, &row));
    const int cx = static_cast<int>(column);
    const int cy = static_cast<int>(row);
    double sum = 0;
    int count = 0;
    for (int y = cy - 1; y <= cy + 1; ++y) {
        for (int x = cx - 1; x <= cx + 1; ++x) {
            if (x >= 0 && y >= 0 && x < width && y < height) {
                const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                sum += p[0] + p[1] + p[2];
                ++count;
            }
        }
    }
    return count > 0 ? sum / count : 0.0;
}

// How far two pictures of the same size are apart: the mean difference of a colour channel
// over the picture, and over its worst 16 x 16 block.
struct Difference {
    double mean = 0.0;
    double worstBlock = 0.0;
};

Difference difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    Difference result;
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size() || a.empty()) {
        return result;
    }
    double total = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
        total += d;
    }
    result.mean = total / a.size();
    result.worstBlock = worstBlockDifference(a, b, kWidth, kHeight);
    return result;
}

// A point on the top of a white key near its back end, where no finger ever covers it from
// above: a pressed key shows its darker material there.
Point3 keyTop(int key) {
    return {KeyLayout[key].x, 0.15f, -0.6f};
}
}  // namespace

TEST(ExportVideo, HasH264AndAacOfTheTimelinesLength) {
    const Exported& e = exported();
    ASSERT_EQ(e.status, 0);
    const std::string probe = commandOutput(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames,sample_rate,"
        "channels:format=duration -of default=noprint_wrappers=1 '" +
        e.video + "'");
    const long frames = static_cast<long>(std::ceil(e.timeline.duration * kFps - 1e-9));
    EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=h264"), std::string::npos) << probe;
    EXPECT_NE(probe.find("width=640\nheight=360"), std::string::npos) << probe;
    EXPECT_NE(probe.find("r_frame_rate=30/1"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=" + std::to_string(frames) + "\n"), std::string::npos)
        << probe;
    EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=48000"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;
    const size_t at = probe.find("duration=");
    ASSERT_NE(at, std::string::npos);
    const double duration = std::atof(probe.c_str() + at + 9);
    EXPECT_NEAR(duration, static_cast<double>(frames) / kFps, 0.05);
    // Lead-in, eight seconds of notes (the last one half a second), lead-out.
    EXPECT_GT(e.timeline.duration, kExportLeadIn + 7.5 + kExportLeadOut - 0.01);
    EXPECT_LT(e.timeline.duration, kExportLeadIn + 8.5 + kExportLeadOut);
}

TEST(ExportVideo, FramesShowTheSoundingKeyDownAndTheOthersUp) {
    const Exported& e = exported();
    ASSERT_EQ(e.status, 0);
    setPlayerView(CameraView::Above, static_cast<double>(kWidth) / kHeight);
    int width = 0;
    int height = 0;
    // Before the first note every key is up.
    const std::vector<uint8_t> rest = frameAt(0.5, &width, &height);
    ASSERT_EQ(width, kWidth);
    ASSERT_EQ(height, kHeight);
    double up[kNoteCount];
    for (int k = 0; k < kNoteCount; ++k) {
        up[k] = brightnessAt(rest, width, height, keyTop(kKeys[k]));
        EXPECT_GT(up[k], 150.0) << "key " << kKeys[k] << " should be lit white";
    }
    for (int n = 0; n < kNoteCount; ++n) {
        // A quarter of a second into note n: it is down, every other key up.
        const std::vector<uint8_t> frame = frameAt(onsetOf(n) + 0.25, &width, &height);
        for (int k = 0; k < kNoteCount; ++k) {
            const double now = brightnessAt(frame, width, height, keyTop(kKeys[k]));
            if (k == n) {
                EXPECT_LT(now, up[k] * 0.85) << "note " << n << ": key " << kKeys[k] << " up";
            } else {
                EXPECT_GT(now, up[k] * 0.95) << "note " << n << ": key " << kKeys[k] << " down";
            }
        }
    }
}

TEST(ExportVideo, SoundRisesAtEveryNoteWithinAFrame) {
    const Exported& e = exported();
    ASSERT_EQ(e.status, 0);
    const std::string raw = e.folder + "/sound.raw";
    commandOutput("ffmpeg -v error -y -i '" + e.video + "' -vn -ac 1 -ar 48000 -f f32le '" + raw +
                  "'");
    const std::string bytes = slurp(raw);
    std::remove(raw.c_str());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    ASSERT_GT(samples.size(), 48000u * 9);

    // Energy in windows of one millisecond.
    constexpr int kWindow = 48;
    std::vector<double> energy(samples.size() / kWindow);
    for (size_t w = 0; w < energy.size(); ++w) {
        for (int i = 0; i < kWindow; ++i) {
            energy[w] += samples[w * kWindow + i] * samples[w * kWindow + i];
        }
    }
    const double frame = 1.0 / kFps;
    for (int n = 0; n < kNoteCount; ++n) {
        const double onset = onsetOf(n);
        // What is left of the previous note a little before this one, and the loudest moment
        // of this note's first tenth of a second.
        double before = 0.0;
        for (size_t w = static_cast<size_t>((onset - 0.2) * 1000); w < (onset - 0.1) * 1000; ++w) {
            before = std::max(before, energy[w]);
        }
        double peak = 0.0;
        for (size_t w = static_cast<size_t>(onset * 1000); w < (onset + 0.1) * 1000; ++w) {
            peak = std::max(peak, energy[w]);
        }
        EXPECT_GT(peak, 20.0 * before + 1e-6) << "note " << n << " is not heard";
        // The attack: the first window past a tenth of the way from the quiet to the peak.
        double attack = -1.0;
        for (size_t w = static_cast<size_t>((onset - 0.1) * 1000); w < (onset + 0.1) * 1000; ++w) {
            if (energy[w] > before + (peak - before) * 0.1) {
                attack = w / 1000.0;
                break;
            }
        }
        EXPECT_NEAR(attack, onset, frame) << "note " << n;
    }
}

TEST(ExportVideo, StillOfAMomentIsTheVideosFrameOfIt) {
    const Exported& e = exported();
    ASSERT_EQ(e.status, 0);
    // The start of measure 2 (note 4), and two and a half quarter notes in (tick 5: the rest
    // after note 2).
    for (const char* at : {"m2", "2.5"}) {
        ExportRequest request;
        request.outputPath = e.folder + "/still.png";
        request.width = kWidth;
        request.height = kHeight;
        request.camera = CameraView::Above;
        request.at = at;
        ASSERT_EQ(exportStill(e.document, request), 0) << at;
        int32_t tick = -1;
        std::string error;
        ASSERT_TRUE(stillTick(e.timeline.timing, at, &tick, &error)) << error;
        const double seconds = timeOfTick(e.timeline, tick);
        // Both moments fall on a frame of the video.
        ASSERT_NEAR(seconds * kFps, std::round(seconds * kFps), 1e-9);

        int width = 0;
        int height = 0;
        std::vector<uint8_t> still;
        ASSERT_TRUE(readPng(request.outputPath, &width, &height, &still, &error)) << error;
        std::remove(request.outputPath.c_str());
        ASSERT_EQ(width, kWidth);
        ASSERT_EQ(height, kHeight);
        // Encoding blurs edges a little, thinly spread over the picture; a key or a finger in
        // another place changes a block of pixels entirely.
        const Difference same = difference(still, frameAt(seconds, &width, &height));
        EXPECT_LT(same.mean, 1.0) << at;
        EXPECT_LT(same.worstBlock, 16.0) << at;
        // A second earlier or three quarters of a second later another key is down or the
        // hand elsewhere: the video's frames of other moments are much further from the still.
        const double other =
            std::max(difference(still, frameAt(seconds - 1.0, &width, &height)).worstBlock,
                     difference(still, frameAt(seconds + 0.75, &width, &height)).worstBlock);
        EXPECT_GT(other, same.worstBlock * 2.0 + 10.0) << at;
    }
}
