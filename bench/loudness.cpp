// Loudness of the performance's sound (EBU R128): the bundled sonata and the real exports in
// tests/data/real, as the synthesiser renders them (the live player's level too) and after the
// export's normalisation. Prints figures; asserts nothing.

#include "audio/loudness.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/state.h"
#include "audio/synth.h"
#include "bench_support.h"
#include "fingering/planner.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "timeline/timeline.h"

namespace {
constexpr int kRate = 48000;

bool timelineOf(const std::string& path, Timeline* timeline) {
    PrepareResult prepared;
    if (!prepareScore(path, PrepareOptions{}, &prepared)) {
        return false;
    }
    resetModel();
    setStartValues();
    if (loadScoreFromBuffer(prepared.xml.data(), prepared.xml.size(), nullptr) != 0) {
        return false;
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
    ScoreTiming timing;
    std::string error;
    if (!readScoreTiming(prepared.xml.data(), prepared.xml.size(), &timing, &error)) {
        return false;
    }
    TimelineOptions options;
    options.leadIn = 1.0;
    options.leadOut = 1.0;
    *timeline = buildTimeline(timing, options);
    return true;
}
}  // namespace

int main() {
    std::vector<std::string> scores = {QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml"};
    const std::string real = QUORVEL_SOURCE_DIR "/tests/data/real/";
    if (DIR* dir = opendir(real.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".mxl") {
                scores.push_back(real + name);
            }
        }
        closedir(dir);
    }
    std::sort(scores.begin() + 1, scores.end());
    const std::string soundfont = defaultSoundfontPath();
    std::printf("%-28s %9s %9s %9s %9s %9s\n", "score", "raw LUFS", "raw dBTP", "live LUFS",
                "out LUFS", "out dBTP");
    for (const std::string& path : scores) {
        Timeline timeline;
        std::vector<float> stereo;
        std::string error;
        Loudness raw;
        Loudness out;
        const std::string name = path.substr(path.rfind('/') + 1);
        if (!timelineOf(path, &timeline) ||
            !renderTimelineAudio(timeline, soundfont, kRate, &stereo, &error) ||
            !normaliseLoudness(&stereo, kRate, &raw, &out, &error)) {
            std::printf("%-28s failed: %s\n", name.c_str(), error.c_str());
            continue;
        }
        std::printf("%-28s %9.1f %9.1f %9.1f %9.1f %9.1f\n", name.c_str(), raw.integrated,
                    raw.truePeak, raw.integrated + kLiveGainDecibels, out.integrated, out.truePeak);
        std::fflush(stdout);
    }
    return 0;
}
