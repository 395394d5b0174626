// Export speed and memory: the bundled sonata exported at 1280 x 720 and 60 frames a second
// (video seconds per wall second, and where the time goes), then a generated ten-minute score
// with the resident memory printed at 10 %, 50 % and 100 % of its frames.
//
//   bench_export [WIDTHxHEIGHT FPS [LONG_WIDTHxHEIGHT LONG_FPS]]
// The long export defaults to 640 x 360 at 30 frames a second so that it ends in a reasonable
// time on two cores; memory per frame does not depend on the frame rate.

#include "export/export.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/state.h"
#include "fingering/planner.h"
#include "score/musicxml_reader.h"

namespace {
long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

bool loadAndPlan(const std::string& document) {
    setStartValues();
    if (loadScoreFromBuffer(document.data(), document.size(), nullptr) != 0) {
        return false;
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
    return true;
}

// Ten minutes at 120 quarter notes a minute: 300 measures of eighth notes in the right hand
// walking up and down two octaves, and a quarter-note bass line.
std::string tenMinuteScore() {
    static const char* steps[7] = {"C", "D", "E", "F", "G", "A", "B"};
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">"
           "<part-list><score-part id=\"P1\"><part-name>Piano</part-name>"
           "<score-instrument id=\"P1-I1\"><instrument-name>Piano</instrument-name>"
           "</score-instrument></score-part></part-list><part id=\"P1\">";
    int walk = 0;
    for (int measure = 1; measure <= 300; ++measure) {
        xml << "<measure number=\"" << measure << "\">";
        if (measure == 1) {
            xml << "<attributes><divisions>2</divisions><staves>2</staves>"
                   "<clef number=\"1\"><sign>G</sign><line>2</line></clef>"
                   "<clef number=\"2\"><sign>F</sign><line>4</line></clef></attributes>"
                   "<direction><direction-type><words/></direction-type>"
                   "<sound tempo=\"120\"/></direction>";
        }
        for (int i = 0; i < 8; ++i, ++walk) {
            const int step = walk % 28 < 14 ? walk % 14 : 14 - walk % 14;
            xml << "<note><pitch><step>" << steps[step % 7] << "</step><octave>" << 4 + step / 7
                << "</octave></pitch><duration>1</duration><staff>1</staff></note>";
        }
        xml << "<backup><duration>8</duration></backup>";
        for (int i = 0; i < 4; ++i) {
            xml << "<note><pitch><step>" << steps[(measure + i * 2) % 7]
                << "</step><octave>2</octave></pitch><duration>2</duration><staff>2</staff>"
                   "</note>";
        }
        xml << "</measure>";
    }
    xml << "</part></score-partwise>\n";
    return xml.str();
}

void printFigures(const char* what) {
    const ExportFigures& f = lastExportFigures;
    std::printf("%s: %ld frames, %.1f s of video in %.1f s: %.2fx real time, %.1f frames/s\n", what,
                f.frames, f.videoSeconds, f.wallSeconds, f.videoSeconds / f.wallSeconds,
                f.frames / f.wallSeconds);
    std::printf(
        "  drawing and read-back %.1f s (%.1f ms a frame), sound synthesis %.1f s, "
        "colour conversion + encoding + writing %.1f s (%.1f ms a frame)\n",
        f.drawSeconds, 1000.0 * f.drawSeconds / f.frames, f.soundSeconds, f.encodeSeconds,
        1000.0 * f.encodeSeconds / f.frames);
    std::fflush(stdout);
}

int nextReport = 0;
void reportMemory(double fraction) {
    static const double marks[3] = {0.10, 0.50, 1.0};
    while (nextReport < 3 && fraction >= marks[nextReport] - 1e-9) {
        std::printf("  resident memory at %3.0f %% of the frames: %ld kB\n",
                    marks[nextReport] * 100.0, residentKilobytes());
        std::fflush(stdout);
        ++nextReport;
    }
}
}  // namespace

int main(int argc, char** argv) {
    int width = 1280;
    int height = 720;
    int fps = 60;
    int longWidth = 640;
    int longHeight = 360;
    int longFps = 30;
    if (argc >= 3) {
        std::sscanf(argv[1], "%dx%d", &width, &height);
        fps = std::atoi(argv[2]);
    }
    if (argc >= 5) {
        std::sscanf(argv[3], "%dx%d", &longWidth, &longHeight);
        longFps = std::atoi(argv[4]);
    }
    const std::string out = "/tmp/bench_export_" + std::to_string(getpid()) + ".mp4";

    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/debug/OrlundePianoSonata.xml");
    std::stringstream text;
    text << in.rdbuf();
    const std::string sonata = text.str();
    if (!loadAndPlan(sonata)) {
        return 1;
    }
    ExportRequest request;
    request.outputPath = out;
    request.width = width;
    request.height = height;
    request.fps = fps;
    if (exportVideo(sonata, request) != 0) {
        return 1;
    }
    char what[128];
    std::snprintf(what, sizeof what, "bundled sonata at %dx%d, %d frames/s", width, height, fps);
    printFigures(what);
    std::remove(out.c_str());

    const std::string longScore = tenMinuteScore();
    if (!loadAndPlan(longScore)) {
        return 1;
    }
    std::printf("ten-minute score: resident memory before the export %ld kB\n",
                residentKilobytes());
    request.width = longWidth;
    request.height = longHeight;
    request.fps = longFps;
    exportFrameDone = reportMemory;
    if (exportVideo(longScore, request) != 0) {
        return 1;
    }
    exportFrameDone = nullptr;
    std::snprintf(what, sizeof what, "ten-minute score at %dx%d, %d frames/s", longWidth,
                  longHeight, longFps);
    printFigures(what);
    std::printf("  peak resident memory of the process: %ld kB\n", peakKilobytes());
    std::remove(out.c_str());
    return 0;
}
