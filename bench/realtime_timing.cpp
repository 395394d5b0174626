// How closely the real-time window keeps to the score's tempo. Generated two-hand scores at 1, 4,
// 96, 480 and 1000 divisions, with a tempo change halfway, are played in the real window, drawn
// as fast as the display allows, with the live player sending its notes to the synthesiser
// (through its "file" driver into /dev/null, which renders in real time without a sound card).
// For every note it reports when its key was first shown down (the first frame after the swap),
// when its note-on reached the synthesiser, and the time the tempo map gives: median and worst
// differences, frames per second, and the whole piece's length against the tempo map's. Run it
// under a virtual X server:
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./bench_realtime_timing
#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/realtime.h"
#include "app/state.h"
#include "audio/live_sound.h"
#include "audio/synth.h"
#include "fingering/planner.h"
#include "geometry/player_view.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

const char* kSteps[12] = {"A", "A", "B", "C", "C", "D", "D", "E", "F", "F", "G", "G"};
const int kAlters[12] = {0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1};
// No key follows itself, so every note's key comes up before it goes down again.
const int kRightKeys[] = {39, 41, 43, 44, 46, 48, 50, 51, 50, 48, 46, 44, 43, 41};
const int kLeftKeys[] = {15, 22, 18, 25, 20};
constexpr int kMeasures = 4;

std::string note(int key, int length, int staff) {
    std::string alter = kAlters[key % 12] ? "<alter>1</alter>" : "";
    return "<note><pitch><step>" + std::string(kSteps[key % 12]) + "</step>" + alter + "<octave>" +
           std::to_string((key + 9) / 12) + "</octave></pitch><duration>" + std::to_string(length) +
           "</duration><staff>" + std::to_string(staff) + "</staff></note>";
}

// Four measures of 4/4: eighths in the right hand (quarters at 1 division), quarters in the
// left; 144 quarter notes a minute, 96 from the third measure.
std::string generatedScore(int divisions) {
    int rightLength = divisions % 2 == 0 ? divisions / 2 : divisions;
    std::string xml =
        "<?xml version=\"1.0\"?><score-partwise version=\"3.1\"><part-list><score-part "
        "id=\"P1\"><part-name>Piano</part-name><score-instrument id=\"P1-I1\"><instrument-name>"
        "Piano</instrument-name></score-instrument></score-part></part-list><part id=\"P1\">";
    int right = 0;
    int left = 0;
    for (int m = 0; m < kMeasures; ++m) {
        xml += "<measure number=\"" + std::to_string(m + 1) + "\">";
        if (m == 0) {
            xml += "<attributes><divisions>" + std::to_string(divisions) +
                   "</divisions><staves>2</staves><clef number=\"1\"><sign>G</sign></clef>"
                   "<clef number=\"2\"><sign>F</sign></clef></attributes>";
        }
        if (m == 0 || m == kMeasures / 2) {
            xml += "<direction><direction-type><words/></direction-type><sound tempo=\"" +
                   std::string(m == 0 ? "144" : "96") + "\"/></direction>";
        }
        for (int t = 0; t < 4 * divisions; t += rightLength) {
            xml += note(kRightKeys[right++ % 14], rightLength, 1);
        }
        xml += "<backup><duration>" + std::to_string(4 * divisions) + "</duration></backup>";
        for (int beat = 0; beat < 4; ++beat) {
            xml += note(kLeftKeys[left++ % 5], divisions, 2);
        }
        xml += "</measure>";
    }
    return xml + "</part></score-partwise>";
}

// Frames shown, and when each key was first shown down.
struct KeyDown {
    int key;
    double wall;
};
std::vector<KeyDown> keyDowns;
float shownAngle[88];
long framesShown = 0;

void watchFrame(double wall) {
    ++framesShown;
    for (int key = 0; key < 88; ++key) {
        float angle = keyStates[key].angle;
        if (angle > 0.0f && shownAngle[key] == 0.0f) {
            keyDowns.push_back({key, wall});
        }
        shownAngle[key] = angle;
    }
}

// Median of the sizes of the differences (early or late alike).
double median(std::vector<double> values) {
    if (values.empty()) {
        return NAN;
    }
    for (double& v : values) {
        v = std::fabs(v);
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double worst(const std::vector<double>& values) {
    double most = 0.0;
    for (double v : values) {
        most = std::max(most, std::fabs(v));
    }
    return most;
}

// The earliest unused time on `key` from 50 ms before `expected` on; NAN when none.
double takeNearest(std::vector<std::pair<int, double>>* times, int key, double expected) {
    for (auto& entry : *times) {
        if (entry.first == key && entry.second >= expected - 0.05) {
            double at = entry.second;
            entry.first = -1;  // used
            return at;
        }
    }
    return NAN;
}

void loadAndPlan(const std::string& xml) {
    setStartValues();
    rightNotes.clear();  // the reader appends to the grids
    leftNotes.clear();
    if (loadScoreFromBuffer(xml.data(), xml.size(), nullptr) != 0) {
        std::fprintf(stderr, "the generated score did not load\n");
        std::exit(1);
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
}

}  // namespace

int main(int argc, char** argv) {
    const int divisionsList[] = {1, 4, 96, 480, 1000};
    LiveSoundOptions soundOptions;
    soundOptions.soundfont = defaultSoundfontPath();
    soundOptions.drivers = {"file"};
    std::string error;
    if (!openLiveSound(soundOptions, &error)) {
        std::fprintf(stderr, "no live sound: %s\n", error.c_str());
        return 1;
    }

    ProgramOptions options;
    options.mode = RunMode::Realtime;
    options.mute = true;  // the window opens no sound of its own; this one is installed below
    const std::string first = generatedScore(divisionsList[0]);
    loadAndPlan(first);
    if (openRealtimeWindow(options, first, argc, argv) != 0) {
        return 1;
    }
    realtimeSound.schedule = liveSoundSchedule;
    realtimeSound.silence = liveSoundSilence;
    realtimeFrameShown = watchFrame;
    for (int i = 0; i < 10; ++i) {
        glutMainLoopEvent();  // let the window appear and settle
    }

    std::printf("%-9s %5s | %-19s | %-19s | %-19s | %7s | %s\n", "divisions", "notes",
                "key down - tempo", "note-on - tempo", "key down - note-on", "frames",
                "piece vs tempo map");
    std::printf("%-9s %5s | %-19s | %-19s | %-19s | %7s |\n", "", "", "median / worst ms",
                "median / worst ms", "median / worst ms", "per s");
    for (int divisions : divisionsList) {
        std::string xml = generatedScore(divisions);
        loadAndPlan(xml);
        if (!prepareRealtime(options, xml, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        setPlayerView(CameraView::Player, static_cast<double>(windowWidth) / windowHeight);
        keyDowns.clear();
        std::fill(std::begin(shownAngle), std::end(shownAngle), 0.0f);
        liveSoundTakeDispatches();
        liveSoundRecordDispatches(true);
        framesShown = 0;
        realtimePlay(liveSoundWallNow());
        const double playWall = realtime.clock.anchorWall;
        glutPostRedisplay();
        while (realtime.playing) {
            glutMainLoopEvent();
        }
        const double endWall = liveSoundWallNow();
        liveSoundRecordDispatches(false);
        std::vector<std::pair<int, double>> downs, sent;
        for (const KeyDown& d : keyDowns) {
            downs.push_back({d.key, d.wall});
        }
        for (const SoundDispatch& d : liveSoundTakeDispatches()) {
            if (d.on) {
                sent.push_back({d.key, d.wall});
            }
        }

        // The tempo map's time of every note, from its tick alone.
        const Timeline& timeline = realtime.timeline;
        std::vector<double> downError, sentError, downAfterSent;
        double firstExpected = INFINITY, lastExpected = -INFINITY;
        double firstDown = INFINITY, lastDown = -INFINITY;
        for (const TimedNote& n : timeline.notes) {
            double expected = playWall + kRealtimeLeadIn + tickToSeconds(timeline.timing, n.tick);
            double down = takeNearest(&downs, n.key, expected);
            double on = takeNearest(&sent, n.key, expected);
            downError.push_back(down - expected);
            sentError.push_back(on - expected);
            downAfterSent.push_back(down - on);
            firstExpected = std::min(firstExpected, expected);
            lastExpected = std::max(lastExpected, expected);
            firstDown = std::min(firstDown, down);
            lastDown = std::max(lastDown, down);
        }
        double mapLength = lastExpected - firstExpected;
        double shownLength = lastDown - firstDown;
        std::printf(
            "%-9d %5zu | %8.2f / %8.2f | %8.2f / %8.2f | %8.2f / %8.2f | %7.1f | %.4f s vs "
            "%.4f s (%+.3f %%)\n",
            divisions, timeline.notes.size(), 1000 * median(downError), 1000 * worst(downError),
            1000 * median(sentError), 1000 * worst(sentError), 1000 * median(downAfterSent),
            1000 * worst(downAfterSent), framesShown / (endWall - playWall), shownLength, mapLength,
            100.0 * (shownLength - mapLength) / mapLength);
        std::fflush(stdout);
    }
    closeLiveSound();
    return 0;
}
