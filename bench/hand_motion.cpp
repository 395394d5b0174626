// How long the new look's hands take: planning both hands' motion for a whole score (positions,
// letting go, the give planned over each travel) and one pose, over the bundled sonata or a
// score given.
//
//   bench_hand_motion [score.xml]

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/optimal_planner.h"
#include "fingering/optimal_printed.h"
#include "geometry/hand_pose.h"
#include "geometry/key_layout.h"
#include "look/look_frame.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/timeline.h"

namespace {
using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}
}  // namespace

int main(int argc, char** argv) {
    const std::string path =
        argc > 1 ? argv[1] : std::string(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml");
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string document = text.str();
    setStartValues();
    if (loadScoreFromBuffer(document.data(), document.size(), nullptr) != 0) {
        std::fprintf(stderr, "bench_hand_motion: cannot read %s\n", path.c_str());
        return 1;
    }
    createKeyStates();
    std::vector<PrintedFinger> printed;
    std::string error;
    readPrintedFingers(document, &printed, &error);
    planHandsOptimal(printed);
    ScoreTiming timing;
    if (!readScoreTiming(document.data(), document.size(), &timing, &error)) {
        std::fprintf(stderr, "bench_hand_motion: %s\n", error.c_str());
        return 1;
    }
    buildKeyLayout();
    const Timeline timeline = buildTimeline(timing, TimelineOptions());
    constexpr int kRuns = 5;
    LookPerformance look;
    const Clock::time_point planStart = Clock::now();
    for (int i = 0; i < kRuns; ++i) {
        look = lookPerformanceOf(timeline, document);
    }
    const double plan = since(planStart) / kRuns;
    size_t stretches = 0;
    size_t samples = 0;
    for (const HandMotion& hand : look.hands) {
        stretches += hand.travelGive.size();
        for (const HandMotion::TravelGive& give : hand.travelGive) {
            samples += give.offsets.size() / 5;
        }
    }
    std::printf("%s: %.1f s of music, %zu notes\n", path.c_str(), look.duration, look.notes.size());
    std::printf("  planning both hands: %.1f ms (%zu stretches of travel, %zu give samples)\n",
                1000.0 * plan, stretches, samples);
    int poses = 0;
    float checksum = 0.0f;
    const Clock::time_point poseStart = Clock::now();
    for (double t = 0.0; t < look.duration; t += 1.0 / 60.0) {
        for (const HandMotion& hand : look.hands) {
            checksum += handPoseAt(hand, t).fingers[2].joint[3].y;
            ++poses;
        }
    }
    const double pose = since(poseStart);
    std::printf("  one pose: %.1f us (%d poses at 60 a second, checksum %.3f)\n",
                1e6 * pose / poses, poses, checksum);
    std::fflush(stdout);
    return 0;
}
