// How fast and how lean preparation is on a large score as an editor writes it: prepareScore plus
// loading the prepared text through the reader, and prepareScore plus filling the grids from the
// Piece it builds instead (what is left once nothing reads the prepared text again), against
// pugixml parsing the same file and nothing else; and the peak memory of each, in a process of
// its own.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "bench_support.h"
#include "music/piece.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

// Size the generated score must reach.
constexpr long kTargetBytes = 22L * 1024 * 1024;
// Ticks per quarter note in the generated score; triplets need the 3.
constexpr int kDivisions = 12;
constexpr int kMeasureTicks = 4 * kDivisions;
// Timed runs of each kind; the best is reported.
constexpr int kRuns = 3;
// Runs of each kind in a process of its own; the median is reported.
constexpr int kFreshRuns = 5;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const char* const kSteps[] = {"C", "D", "E", "F", "G", "A", "B"};

void writeNote(FILE* out, bool chord, int step, int octave, int duration, int voice, int staff,
               const char* extra) {
    std::fprintf(out,
                 "      <note default-x=\"%d.25\" default-y=\"-%d.00\">\n%s"
                 "        <pitch>\n          <step>%s</step>\n          <octave>%d</octave>\n"
                 "        </pitch>\n        <duration>%d</duration>\n%s        <voice>%d</voice>\n"
                 "        <type>quarter</type>\n        <stem>up</stem>\n"
                 "        <staff>%d</staff>\n      </note>\n",
                 70 + step * 9, 5 + step * 5, chord ? "        <chord/>\n" : "", kSteps[step % 7],
                 octave, duration, extra, voice, staff);
}

// A voice part over a two-staff piano part: triplets and a tied held note in the right hand, a
// second voice, chords in the left hand, fingerings, a tempo mark every eight measures.
long writeScore(const std::string& path) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        return -1;
    }
    std::fprintf(out,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                 "<score-partwise version=\"3.1\">\n  <part-list>\n"
                 "    <score-part id=\"P1\"><part-name>Soprano</part-name></score-part>\n"
                 "    <score-part id=\"P2\"><part-name>Piano</part-name>\n"
                 "      <score-instrument id=\"P2-I1\"><instrument-name>Grand Piano"
                 "</instrument-name></score-instrument></score-part>\n  </part-list>\n");
    // The voice part: as many measures as the piano, one long note each.
    const int measures = static_cast<int>(kTargetBytes / 4500) + 1;
    std::fprintf(out, "  <part id=\"P1\">\n");
    for (int m = 1; m <= measures; ++m) {
        std::fprintf(out, "    <measure number=\"%d\">\n", m);
        if (m == 1) {
            std::fprintf(out,
                         "      <attributes><divisions>%d</divisions><clef><sign>G</sign>"
                         "<line>2</line></clef></attributes>\n",
                         kDivisions);
        }
        writeNote(out, false, m % 7, 5, kMeasureTicks, 1, 1, "");
        std::fprintf(out, "    </measure>\n");
    }
    std::fprintf(out, "  </part>\n  <part id=\"P2\">\n");
    long bytes = 0;
    for (int m = 1; m <= measures; ++m) {
        std::fprintf(out, "    <measure number=\"%d\" width=\"301.5\">\n", m);
        if (m == 1) {
            std::fprintf(out,
                         "      <attributes><divisions>%d</divisions><staves>2</staves>"
                         "<clef number=\"1\"><sign>G</sign><line>2</line></clef>"
                         "<clef number=\"2\"><sign>F</sign><line>4</line></clef></attributes>\n",
                         kDivisions);
        }
        if (m % 8 == 1) {
            std::fprintf(out,
                         "      <direction placement=\"above\"><direction-type><metronome>"
                         "<beat-unit>quarter</beat-unit><per-minute>%d</per-minute></metronome>"
                         "</direction-type><sound tempo=\"%d\"/></direction>\n",
                         80 + m % 40, 80 + m % 40);
        }
        for (int t = 0; t < 3; ++t) {
            writeNote(out, false, (m + t) % 7, 5, kDivisions / 3, 1, 1,
                      "        <time-modification><actual-notes>3</actual-notes>"
                      "<normal-notes>2</normal-notes></time-modification>\n");
        }
        writeNote(out, false, m % 7, 5, kDivisions, 1, 1,
                  "        <notations><technical><fingering>3</fingering></technical>"
                  "</notations>\n");
        writeNote(out, false, (m + 2) % 7, 5, 2 * kDivisions, 1, 1,
                  "        <tie type=\"start\"/>\n");
        std::fprintf(out, "      <backup><duration>%d</duration></backup>\n", kMeasureTicks);
        writeNote(out, false, (m + 4) % 7, 4, kMeasureTicks, 2, 1, "");
        std::fprintf(out, "      <backup><duration>%d</duration></backup>\n", kMeasureTicks);
        for (int half = 0; half < 2; ++half) {
            writeNote(out, false, (m + half) % 7, 2, 2 * kDivisions, 5, 2, "");
            writeNote(out, true, (m + half + 2) % 7, 2, 2 * kDivisions, 5, 2, "");
            writeNote(out, true, (m + half + 4) % 7, 2, 2 * kDivisions, 5, 2, "");
        }
        std::fprintf(out, "    </measure>\n");
        bytes = std::ftell(out);
    }
    std::fprintf(out, "  </part>\n</score-partwise>\n");
    bytes = std::ftell(out);
    std::fclose(out);
    return bytes;
}

// Seconds spent in prepareScore and in the reader over the prepared text, with the reader's
// console output sent away.
struct PrepareTimes {
    double prepare = 0;
    double load = 0;
};

bool prepareAndLoad(const std::string& path, size_t* notes, PrepareTimes* times) {
    const auto start = std::chrono::steady_clock::now();
    PrepareResult result;
    if (!prepareScore(path, {}, &result)) {
        std::printf("prepareScore failed: %s\n", result.error.c_str());
        return false;
    }
    const auto prepared = std::chrono::steady_clock::now();
    *notes = result.notes.size();
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    resetModel();
    const int loaded = loadScoreFromBuffer(result.xml.data(), result.xml.size(), nullptr);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    times->prepare = seconds(prepared - start);
    times->load = seconds(std::chrono::steady_clock::now() - prepared);
    return loaded == 0;
}

// prepareScore without the strict document and the grids filled from its Piece as the session
// fills them (the reader's grids of the strict document, cell for cell); nothing is written or
// parsed after the preparation.
bool prepareAndFill(const std::string& path, PrepareTimes* times) {
    const auto start = std::chrono::steady_clock::now();
    PrepareResult result;
    PrepareOptions options;
    options.strictText = false;
    if (!prepareScore(path, options, &result)) {
        return false;
    }
    const auto prepared = std::chrono::steady_clock::now();
    resetModel();
    const bool filled = fillStrictGrids(result.piece);
    times->prepare = seconds(prepared - start);
    times->load = seconds(std::chrono::steady_clock::now() - prepared);
    return filled && !rightNotes.empty();
}

}  // namespace

int main() {
    char directory[] = "/tmp/quorvel_bench_XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::printf("cannot create a temporary directory\n");
        return 1;
    }
    const std::string path = std::string(directory) + "/editor_score.xml";
    const long bytes = writeScore(path);
    if (bytes <= 0) {
        std::printf("cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("score: %s, %.1f MB\n", path.c_str(), bytes / 1e6);
    std::fflush(stdout);

    size_t notes = 0;
    PrepareTimes times;
    const long baseline = childPeakKiB([] { return true; });
    const long parsePeak = childPeakKiB([&] { return bareParse(path); });
    const long preparePeak = childPeakKiB([&] { return prepareAndLoad(path, &notes, &times); });
    const long fillPeak = childPeakKiB([&] { return prepareAndFill(path, &times); });

    PrepareTimes best{1e30, 1e30};
    double bestTotal = 1e30;
    double bestParse = 1e30;
    double bestFill = 1e30;
    double bestFillTotal = 1e30;
    double bestFillPrepare = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        if (!prepareAndFill(path, &times)) {
            std::printf("prepare and fill failed on the generated score\n");
            return 1;
        }
        bestFill = std::min(bestFill, times.load);
        bestFillPrepare = std::min(bestFillPrepare, times.prepare);
        bestFillTotal = std::min(bestFillTotal, times.prepare + times.load);
        if (!prepareAndLoad(path, &notes, &times)) {
            std::printf("prepare and load failed on the generated score\n");
            return 1;
        }
        best.prepare = std::min(best.prepare, times.prepare);
        best.load = std::min(best.load, times.load);
        bestTotal = std::min(bestTotal, times.prepare + times.load);
        const auto start = std::chrono::steady_clock::now();
        if (!bareParse(path)) {
            std::printf("pugixml could not parse the generated score\n");
            return 1;
        }
        bestParse = std::min(bestParse, seconds(std::chrono::steady_clock::now() - start));
    }
    const size_t ticks = rightNotes.size();
    resetModel();

    // The same two, each run in a process of its own, in turns; the median of each.
    std::vector<double> freshParse;
    std::vector<double> freshFill;
    for (int run = 0; run < kFreshRuns; ++run) {
        freshParse.push_back(childSeconds([&] { return bareParse(path); }));
        freshFill.push_back(childSeconds([&] { return prepareAndFill(path, &times); }));
        if (freshParse.back() < 0 || freshFill.back() < 0) {
            std::printf("a run in a process of its own failed\n");
            return 1;
        }
    }

    const double fileMB = bytes / 1e6;
    std::printf("prepared: %zu notes, %zu ticks per hand\n", notes, ticks);
    std::printf("prepareScore:            %8.3f s  (%.0f MB/s)\n", best.prepare,
                fileMB / best.prepare);
    std::printf("reader on prepared text: %8.3f s\n", best.load);
    std::printf("pugixml load_file:       %8.3f s  (%.0f MB/s)\n", bestParse, fileMB / bestParse);
    std::printf("time ratio prepareScore / bare parse: %.2f\n", best.prepare / bestParse);
    std::printf("time ratio prepare + load / bare parse: %.2f (target <= 3)\n",
                bestTotal / bestParse);
    std::printf("prepareScore, no text:   %8.3f s\n", bestFillPrepare);
    std::printf("grids from the Piece:    %8.3f s\n", bestFill);
    std::printf("time ratio prepare + grids from the Piece / bare parse: %.2f (target <= 3)\n",
                bestFillTotal / bestParse);
    const double parseFresh = median(freshParse);
    const double fillFresh = median(freshFill);
    std::printf(
        "each in a process of its own, median of %d: bare parse %.3f s, prepare + grids "
        "from the Piece %.3f s, ratio %.2f (target <= 3)\n",
        kFreshRuns, parseFresh, fillFresh, fillFresh / parseFresh);
    if (baseline < 0 || parsePeak < 0 || preparePeak < 0 || fillPeak < 0) {
        std::printf("a memory measurement failed\n");
        return 1;
    }
    const double prepareMB = (preparePeak - baseline) * 1024.0 / 1e6;
    const double parseMB = (parsePeak - baseline) * 1024.0 / 1e6;
    std::printf(
        "peak memory above an idle process (%ld KiB): prepare + load %.1f MB, bare parse "
        "%.1f MB\n",
        baseline, prepareMB, parseMB);
    const double fillMB = (fillPeak - baseline) * 1024.0 / 1e6;
    std::printf("peak memory above an idle process: prepare + grids from the Piece %.1f MB\n",
                fillMB);
    std::printf(
        "peak / file size: prepare + load %.2f, prepare + grids from the Piece %.2f, "
        "bare parse %.2f\n",
        prepareMB / fileMB, fillMB / fileMB, parseMB / fileMB);
    std::fflush(stdout);

    unlink(path.c_str());
    rmdir(directory);
    return 0;
}
