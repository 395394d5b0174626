// How fast and how lean the score import is on a large score: loadScore against pugixml parsing
// the same file and nothing else, and against that parse plus expat's well-formedness pass over
// the same bytes (the two parsers the load runs), and the peak memory of each in a process of
// its own.

#include <expat.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>

#include "bench_support.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

// Size the generated score must reach.
constexpr long kTargetBytes = 24L * 1024 * 1024;
// Ticks per quarter note in the generated score, and per 4/4 measure.
constexpr int kDivisions = 4;
constexpr int kMeasureTicks = 4 * kDivisions;
// Timed runs of each kind; the best is reported.
constexpr int kRuns = 3;

const char* const kSteps[] = {"C", "D", "E", "F", "G", "A", "B"};

// One note as an editor writes it: placement attributes, voice, type, stem and a staff.
void writeNote(FILE* out, bool chord, int step, int octave, int duration, int voice, int staff,
               const char* type) {
    std::fprintf(out,
                 "      <note default-x=\"%d.50\" default-y=\"-%d.00\">\n%s"
                 "        <pitch>\n          <step>%s</step>\n%s          <octave>%d</octave>\n"
                 "        </pitch>\n        <duration>%d</duration>\n        <voice>%d</voice>\n"
                 "        <type>%s</type>\n        <stem>%s</stem>\n        <staff>%d</staff>\n"
                 "      </note>\n",
                 80 + step * 7, 10 + step * 5, chord ? "        <chord/>\n" : "", kSteps[step % 7],
                 step == 3 ? "          <alter>1</alter>\n" : "", octave, duration, voice, type,
                 voice % 2 == 1 ? "up" : "down", staff);
}

// A two-staff piano score of `measures` measures: the right hand plays quarter-note dyads over
// a held second voice, the left hand half-note triads.
long writeScore(const std::string& path) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        return -1;
    }
    std::fprintf(
        out,
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.1 Partwise//EN\" "
        "\"http://www.musicxml.org/dtds/partwise.dtd\">\n<score-partwise version=\"3.1\">\n"
        "  <part-list>\n    <score-part id=\"P1\">\n      <part-name>Piano</part-name>\n"
        "      <score-instrument id=\"P1-I1\">\n"
        "        <instrument-name>Piano</instrument-name>\n      </score-instrument>\n"
        "    </score-part>\n  </part-list>\n  <part id=\"P1\">\n");
    long bytes = 0;
    for (int m = 1; bytes < kTargetBytes; ++m) {
        std::fprintf(out, "    <measure number=\"%d\" width=\"312.40\">\n", m);
        if (m == 1) {
            std::fprintf(
                out,
                "      <attributes>\n        <divisions>%d</divisions>\n        <key>\n"
                "          <fifths>0</fifths>\n        </key>\n        <staves>2</staves>\n"
                "        <clef number=\"1\">\n          <sign>G</sign>\n"
                "          <line>2</line>\n        </clef>\n        <clef number=\"2\">\n"
                "          <sign>F</sign>\n          <line>4</line>\n        </clef>\n"
                "      </attributes>\n",
                kDivisions);
        }
        std::fprintf(out,
                     "      <direction placement=\"above\">\n        <direction-type>\n"
                     "          <words>espr.</words>\n        </direction-type>\n"
                     "      </direction>\n");
        for (int beat = 0; beat < 4; ++beat) {
            const int step = (m + beat) % 7;
            writeNote(out, false, step, 5, kDivisions, 1, 1, "quarter");
            writeNote(out, true, step + 2, 5, kDivisions, 1, 1, "quarter");
        }
        std::fprintf(out, "      <backup>\n        <duration>%d</duration>\n      </backup>\n",
                     kMeasureTicks);
        writeNote(out, false, m % 7, 4, kMeasureTicks, 2, 1, "whole");
        std::fprintf(out, "      <backup>\n        <duration>%d</duration>\n      </backup>\n",
                     kMeasureTicks);
        for (int half = 0; half < 2; ++half) {
            const int step = (m + 3 * half) % 7;
            writeNote(out, false, step, 2, 2 * kDivisions, 5, 2, "half");
            writeNote(out, true, step + 2, 2, 2 * kDivisions, 5, 2, "half");
            writeNote(out, true, step + 4, 2, 2 * kDivisions, 5, 2, "half");
        }
        std::fprintf(out,
                     "      <barline location=\"right\">\n        <bar-style>regular</bar-style>\n"
                     "      </barline>\n    </measure>\n");
        bytes = std::ftell(out);
    }
    std::fprintf(out, "  </part>\n</score-partwise>\n");
    bytes = std::ftell(out);
    std::fclose(out);
    return bytes;
}

// loadScore with its console output sent to /dev/null; returns its result.
int quietLoad(const std::string& path) {
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    std::string program = "bench";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    const int result = loadScore(2, argv);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return result;
}

// expat over the file's bytes with nothing to report: the well-formedness pass on its own.
bool bareCheck(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::string bytes;
    char chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.append(chunk, got);
    }
    std::fclose(file);
    XML_Parser parser = XML_ParserCreate("UTF-8");
    const bool ok =
        parser != nullptr &&
        XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
    if (parser != nullptr) {
        XML_ParserFree(parser);
    }
    return ok;
}

}  // namespace

int main() {
    char directory[] = "/tmp/quorvel_bench_XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::printf("cannot create a temporary directory\n");
        return 1;
    }
    const std::string path = std::string(directory) + "/large_score.xml";
    const long bytes = writeScore(path);
    if (bytes <= 0) {
        std::printf("cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("score: %s, %.1f MB\n", path.c_str(), bytes / 1e6);
    std::fflush(stdout);

    // Memory first, while this process is still small: a child starts from its parent's size.
    // The first child also brings the file into the page cache before anything is timed.
    const long baseline = childPeakKiB([] { return true; });
    const long parsePeak = childPeakKiB([&] { return bareParse(path); });
    const long loadPeak = childPeakKiB([&] { return quietLoad(path) == 0; });

    double bestLoad = 1e30;
    double bestParse = 1e30;
    double bestCheck = 1e30;
    size_t ticks = 0;
    size_t gridCapacity = 0;
    for (int run = 0; run < kRuns; ++run) {
        resetModel();
        auto start = std::chrono::steady_clock::now();
        if (quietLoad(path) != 0) {
            std::printf("loadScore failed on the generated score\n");
            return 1;
        }
        bestLoad = std::min(bestLoad, seconds(std::chrono::steady_clock::now() - start));
        ticks = rightNotes.size();
        gridCapacity = rightNotes.capacity() + leftNotes.capacity();

        start = std::chrono::steady_clock::now();
        if (!bareParse(path)) {
            std::printf("pugixml could not parse the generated score\n");
            return 1;
        }
        bestParse = std::min(bestParse, seconds(std::chrono::steady_clock::now() - start));

        start = std::chrono::steady_clock::now();
        if (!bareCheck(path)) {
            std::printf("expat could not parse the generated score\n");
            return 1;
        }
        bestCheck = std::min(bestCheck, seconds(std::chrono::steady_clock::now() - start));
    }
    resetModel();

    const double fileMB = bytes / 1e6;
    const double gridMB = static_cast<double>(gridCapacity) * sizeof(NoteEvent) / 1e6;
    std::printf("ticks: %zu per hand, grids %.1f MB allocated\n", ticks, gridMB);
    std::printf("loadScore:          %8.3f s  (%.0f MB/s)\n", bestLoad, fileMB / bestLoad);
    std::printf("pugixml load_file:  %8.3f s  (%.0f MB/s)\n", bestParse, fileMB / bestParse);
    std::printf("expat read + parse:  %8.3f s  (%.0f MB/s)\n", bestCheck, fileMB / bestCheck);
    std::printf("time ratio loadScore / bare pugixml parse: %.2f\n", bestLoad / bestParse);
    std::printf(
        "time ratio loadScore / (bare pugixml parse + bare expat parse): %.2f (target <= 2)\n",
        bestLoad / (bestParse + bestCheck));
    if (baseline < 0 || parsePeak < 0 || loadPeak < 0) {
        std::printf("a memory measurement failed\n");
        return 1;
    }
    const double loadMB = (loadPeak - baseline) * 1024.0 / 1e6;
    const double parseMB = (parsePeak - baseline) * 1024.0 / 1e6;
    std::printf(
        "peak memory above an idle process (%ld KiB): loadScore %.1f MB, bare parse %.1f MB\n",
        baseline, loadMB, parseMB);
    std::printf(
        "loadScore (peak - grids) / file size: %.2f (target <= 3); bare parse / file size: %.2f\n",
        (loadMB - gridMB) / fileMB, parseMB / fileMB);
    std::fflush(stdout);

    unlink(path.c_str());
    rmdir(directory);
    return 0;
}
