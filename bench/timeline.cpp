// Timeline cost: how long building the performance takes and how many frames performanceAt
// answers a second, for the bundled score and for a generated hour of music at 96 ticks a
// quarter with a tempo change every measure. Frames are asked for in play order at 60 frames a
// second and at random moments (a seek, a still picture), so both the common and the worst
// access show.

#include "timeline/timeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

using Clock = std::chrono::steady_clock;

// Builds (and reads of the tempo) timed per case; the fastest is reported.
constexpr int kBuildRepeats = 5;
// Frames asked for in each way.
constexpr int kFrames = 200000;
// Generated score: ticks a quarter, quarter notes a minute, minutes of music.
constexpr int32_t kLongDivisions = 96;
constexpr double kLongTempo = 120.0;
constexpr int kLongMinutes = 60;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Broken chords in the right hand (sixteenths and eighths), held chords of three notes in the
// left (quarters and halves), wandering over each hand's half of the keyboard.
void generateGrids(int32_t ticks) {
    std::mt19937 random(1);
    rightNotes.assign(ticks, kEmptyEvent);
    leftNotes.assign(ticks, kEmptyEvent);
    int rightRoot = 48;
    int leftRoot = 24;
    for (int32_t t = 0; t < ticks;) {
        const int32_t length = kLongDivisions / (random() % 2 == 0 ? 4 : 2);
        rightRoot = std::clamp(rightRoot + static_cast<int>(random() % 7) - 3, 40, 75);
        for (int32_t d = 0; d < length && t + d < ticks; ++d) {
            rightNotes[t + d].slot[0] = NoteSlot{rightRoot, d + 1 == length ? 1 : 0};
        }
        t += length;
    }
    for (int32_t t = 0; t < ticks;) {
        const int32_t length = kLongDivisions * (random() % 3 == 0 ? 2 : 1);
        leftRoot = std::clamp(leftRoot + static_cast<int>(random() % 9) - 4, 12, 36);
        const int shape[3] = {0, 4, 7};
        for (int i = 0; i < 3; ++i) {
            for (int32_t d = 0; d < length && t + d < ticks; ++d) {
                leftNotes[t + d].slot[i] = NoteSlot{leftRoot + shape[i], d + 1 == length ? 1 : 0};
            }
        }
        t += length;
    }
}

void report(const char* name, const ScoreTiming& timing) {
    Timeline timeline;
    double best = 1e300;
    for (int i = 0; i < kBuildRepeats; ++i) {
        const Clock::time_point a = Clock::now();
        timeline = buildTimeline(timing, TimelineOptions{});
        best = std::min(best, seconds(a, Clock::now()));
    }
    size_t runs = 0;
    size_t moves = 0;
    for (const HandTrack& track : timeline.hands) {
        moves += track.moves.size();
        for (const std::vector<FingerRun>& r : track.runs) {
            runs += r.size();
        }
    }
    const double bytes = timeline.notes.size() * sizeof(TimedNote) +
                         timeline.events.size() * sizeof(PerformanceEvent) +
                         runs * sizeof(FingerRun) + moves * sizeof(HandMove) +
                         timeline.notes.size() * 2 * sizeof(size_t);
    std::printf("%s: %zu ticks, %zu notes, %zu finger runs, %zu hand moves, %.1f s of music\n",
                name, rightNotes.size(), timeline.notes.size(), runs, moves, timeline.duration);
    std::printf("  build: %.2f ms (%.0f ns a note), about %.1f MB\n", best * 1e3,
                best * 1e9 / std::max<size_t>(1, timeline.notes.size()), bytes / 1e6);
    std::fflush(stdout);

    PerformanceFrame frame;
    float sink = 0.0f;
    // In play order at 60 frames a second, wrapping round the piece.
    Clock::time_point a = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        performanceAt(timeline, std::fmod(i / 60.0, timeline.duration), &frame);
        sink += frame.keyAngle[40] + frame.right.position.x;
    }
    const double ordered = seconds(a, Clock::now());
    std::mt19937 random(2);
    std::uniform_real_distribution<double> anywhere(0.0, timeline.duration);
    a = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        performanceAt(timeline, anywhere(random), &frame);
        sink += frame.keyAngle[40] + frame.left.position.x;
    }
    const double scattered = seconds(a, Clock::now());
    std::printf(
        "  performanceAt: %.0f frames/s in play order (%.2f us each), %.0f frames/s at "
        "random moments (%.2f us each)%s\n",
        kFrames / ordered, ordered * 1e6 / kFrames, kFrames / scattered, scattered * 1e6 / kFrames,
        sink == 12345.0f ? " " : "");
    std::fflush(stdout);
}

}  // namespace

int main() {
    // The bundled score, read and planned as at start-up.
    setStartValues();
    std::ifstream in(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    if (loadScoreFromBuffer(xml.data(), xml.size(), nullptr) != 0) {
        std::printf("the bundled score could not be read\n");
        return 1;
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
    ScoreTiming timing;
    std::string error;
    double best = 1e300;
    for (int i = 0; i < kBuildRepeats; ++i) {
        const Clock::time_point a = Clock::now();
        if (!readScoreTiming(xml.data(), xml.size(), &timing, &error)) {
            std::printf("the bundled score's tempo could not be read: %s\n", error.c_str());
            return 1;
        }
        best = std::min(best, seconds(a, Clock::now()));
    }
    std::printf("\nreadScoreTiming on the bundled score (%zu bytes): %.2f ms\n", xml.size(),
                best * 1e3);
    report("bundled score", timing);

    // An hour of generated music.
    const int32_t ticks = static_cast<int32_t>(kLongMinutes * kLongTempo * kLongDivisions);
    generateGrids(ticks);
    divisions = kLongDivisions;
    scanLength = 4 * kLongDivisions;
    createKeyStates();
    planRightHand();
    planLeftHand();
    ScoreTiming longTiming;
    longTiming.divisions = kLongDivisions;
    longTiming.endTick = ticks;
    for (int32_t t = 0; t < ticks; t += 4 * kLongDivisions) {
        longTiming.tempo.push_back({t, kLongTempo + (t / (4 * kLongDivisions)) % 7 - 3});
    }
    report("generated hour", longTiming);
    return 0;
}
