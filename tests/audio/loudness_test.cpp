// The export's sound level: a rendered piano track brought to the target loudness with its true
// peak under the ceiling, measured again by FFmpeg's own EBU R128 meter (an independent one).

#include "audio/loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/synth.h"

namespace {
constexpr int kRate = 48000;

// Runs a command and returns its standard error and output.
std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, got);
        }
        pclose(pipe);
    }
    return out;
}

// The number after `label` in the summary of FFmpeg's ebur128 filter.
double summaryValue(const std::string& report, const std::string& label) {
    const size_t summary = report.rfind("Summary:");
    const size_t at = report.find(label, summary == std::string::npos ? 0 : summary);
    return at == std::string::npos ? NAN : std::strtod(report.c_str() + at + label.size(), nullptr);
}

// A quiet passage of single notes, then a few loud spread chords: a piano's level is set by
// the passage, its peaks by the chords, far above it.
std::vector<SoundNote> passageWithLoudChords() {
    std::vector<SoundNote> notes;
    for (int i = 0; i < 40; ++i) {
        const double t = 0.2 + i * 0.25;
        notes.push_back({static_cast<int32_t>(39 + (i * 5) % 24), t, t + 0.3});
    }
    for (int c = 0; c < 3; ++c) {
        const double t = 10.5 + c * 1.5;
        for (int32_t key : {3, 15, 27, 34, 39, 43, 46, 51, 55, 58, 63, 67}) {
            notes.push_back({key, t, t + 1.2});
        }
    }
    return notes;
}
}  // namespace

TEST(Loudness, ARenderedTrackIsBroughtToTheTargetUnderTheCeiling) {
    const std::string soundfont = defaultSoundfontPath();
    ASSERT_FALSE(soundfont.empty()) << "no General MIDI SoundFont is installed";
    std::vector<float> stereo;
    std::string error;
    ASSERT_TRUE(renderNotesAudio(passageWithLoudChords(), 16.0, soundfont, kRate, &stereo, &error))
        << error;
    Loudness before;
    Loudness after;
    ASSERT_TRUE(normaliseLoudness(&stereo, kRate, &before, &after, &error)) << error;
    // The synthesiser alone is far too quiet next to other videos, and the chords stand out.
    EXPECT_LT(before.integrated, kTargetLoudness - 3.0);
    EXPECT_GT(before.truePeak - before.integrated, 15.0);
    EXPECT_NEAR(after.integrated, kTargetLoudness, 0.5);
    EXPECT_LE(after.truePeak, kPeakCeiling);

    const std::string wav = testing::TempDir() + "loudness.wav";
    ASSERT_TRUE(writeWav(wav, stereo, kRate, &error)) << error;
    const std::string report = commandOutput("ffmpeg -hide_banner -nostats -i '" + wav +
                                             "' -af ebur128=peak=true -f null -");
    std::remove(wav.c_str());
    EXPECT_NEAR(summaryValue(report, "I:"), kTargetLoudness, 1.0)
        << report.substr(report.size() / 2);
    EXPECT_LE(summaryValue(report, "Peak:"), kPeakCeiling + 0.05);
}

// Silence stays silence (no gain to compute), and a failing meter is one line.
TEST(Loudness, SilenceAndAFailingMeter) {
    std::vector<float> silence(2 * kRate, 0.0f);
    Loudness before;
    Loudness after;
    std::string error;
    ASSERT_TRUE(normaliseLoudness(&silence, kRate, &before, &after, &error)) << error;
    EXPECT_FALSE(std::isfinite(before.integrated));
    for (float s : silence) {
        ASSERT_EQ(s, 0.0f);
    }
    std::vector<float> odd(3, 0.1f);
    EXPECT_FALSE(normaliseLoudness(&odd, kRate, nullptr, nullptr, &error));
    EXPECT_EQ(error.find('\n'), std::string::npos);
    for (long n = 1; n <= 3; ++n) {
        audioCallsMade = 0;
        audioFailCallNumber = n;
        std::vector<float> track(2 * kRate, 0.25f);
        error.clear();
        EXPECT_FALSE(normaliseLoudness(&track, kRate, nullptr, nullptr, &error)) << n;
        EXPECT_FALSE(error.empty());
        audioFailCallNumber = 0;
    }
}
