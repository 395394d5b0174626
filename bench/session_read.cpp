// What a score read as it is costs the long-option modes at start-up, on a generated 20+ MB
// strict score with printed fingers and dynamics: the reader alone; the reader keeping its tree
// plus everything the session reads from that tree (tempo, measures, fingers, titles, the piece,
// the marks); and, for comparison, the reader plus the readings of the text that the tree
// replaces (the timing, the printed fingers and a second preparation, each parsing the text
// again). Best of three, against a bare parse, and the peak memory of each in its own process.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "fingering/optimal_printed.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/score_tree.h"

namespace {
constexpr long kTargetBytes = 20L * 1024 * 1024 + 1;
constexpr int kRuns = 3;
const char* const kSteps[] = {"C", "D", "E", "F", "G", "A", "B"};
const char* const kMarks[] = {"p", "mf", "f", "pp", "ff"};

long writeScore(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">\n"
           "<work><work-title>Generated</work-title></work>\n<part-list><score-part id=\"P1\">"
           "<part-name>Piano</part-name><score-instrument id=\"P1-I1\"><instrument-name>Piano"
           "</instrument-name></score-instrument></score-part></part-list>\n<part id=\"P1\">\n";
    for (int m = 1; out.tellp() < kTargetBytes; ++m) {
        out << "<measure number=\"" << m << "\">\n";
        if (m == 1) {
            out << "<attributes><divisions>4</divisions><staves>2</staves><clef number=\"1\">"
                   "<sign>G</sign><line>2</line></clef><clef number=\"2\"><sign>F</sign><line>4"
                   "</line></clef></attributes>\n<direction><direction-type><metronome>"
                   "<beat-unit>quarter</beat-unit><per-minute>100</per-minute></metronome>"
                   "</direction-type><sound tempo=\"100\"/></direction>\n";
        }
        if (m % 8 == 1) {
            out << "<direction placement=\"below\"><direction-type><dynamics><"
                << kMarks[(m / 8) % 5] << "/></dynamics></direction-type><staff>1</staff>"
                << "</direction>\n";
        }
        for (int i = 0; i < 8; ++i) {
            out << "<note><pitch><step>" << kSteps[(m + i) % 7] << "</step><octave>5</octave>"
                << "</pitch><duration>2</duration><voice>1</voice><type>eighth</type><staff>1"
                << "</staff>";
            if (i % 3 == 0) {
                out << "<notations><technical><fingering>" << 1 + (m + i) % 5
                    << "</fingering></technical></notations>";
            }
            out << "</note>\n";
        }
        out << "<backup><duration>16</duration></backup>\n";
        for (int i = 0; i < 4; ++i) {
            for (int c = 0; c < 2; ++c) {
                out << "<note>" << (c == 1 ? "<chord/>" : "") << "<pitch><step>"
                    << kSteps[(m * 3 + i + 2 * c) % 7] << "</step><octave>" << 3 - c
                    << "</octave></pitch><duration>4</duration><voice>5</voice><type>quarter"
                    << "</type><staff>2</staff></note>\n";
            }
        }
        out << "</measure>\n";
    }
    out << "</part>\n</score-partwise>\n";
    return static_cast<long>(out.tellp());
}

// The reader alone, quietly.
bool readerAlone(const std::string& path) {
    resetModel();
    return loadScoreFile(path.c_str(), nullptr, true) == 0;
}

// The reader keeping its tree, then what the session reads from it.
bool readOnce(const std::string& path) {
    resetModel();
    std::shared_ptr<const pugi::xml_document> tree;
    if (loadScoreFileKeepingTree(path.c_str(), nullptr, &tree) != 0) {
        return false;
    }
    ScoreTreeReading reading;
    std::string error;
    if (!readScoreTree(*tree, &reading, &error)) {
        return false;
    }
    const Piece piece = pieceOfLoadedScore(reading);
    PrepareOptions options;
    options.repeats = false;
    PrepareResult marks;
    return prepareScoreTree(*tree, options, &marks) && !piece.notes.empty();
}

// The reader, then the text read again for the timing, the printed fingers and the marks.
bool readAgain(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    resetModel();
    if (loadScoreFromBuffer(text.data(), text.size(), nullptr, true) != 0) {
        return false;
    }
    ScoreTiming timing;
    std::vector<PrintedFinger> printed;
    std::string error;
    PrepareOptions options;
    options.repeats = false;
    PrepareResult marks;
    return readScoreTiming(text.data(), text.size(), &timing, &error) &&
           readPrintedFingers(text, &printed, &error) && prepareScoreText(text, options, &marks);
}

template <typename Work>
double best(Work work) {
    double fastest = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (!work()) {
            return -1.0;
        }
        fastest = std::min(fastest, seconds(std::chrono::steady_clock::now() - start));
    }
    return fastest;
}
}  // namespace

int main() {
    char directory[] = "/tmp/quorvel_bench_XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::printf("cannot create a temporary directory\n");
        return 1;
    }
    const std::string path = std::string(directory) + "/strict_score.xml";
    const long bytes = writeScore(path);
    std::printf("score: %s, %.1f MB\n", path.c_str(), bytes / 1e6);
    std::fflush(stdout);
    // The kept-tree load prints the reader's progress; it goes nowhere while timing.
    const int shown = dup(1);
    const int nowhere = open("/dev/null", O_WRONLY);
    dup2(nowhere, 1);
    // The children are forked while this process is still small: a child counts the pages it
    // shares with its parent in its peak.
    const long parseKiB = childPeakKiB([&] { return bareParse(path); });
    const long onceKiB = childPeakKiB([&] { return readOnce(path); });
    const long againKiB = childPeakKiB([&] { return readAgain(path); });
    const double parse = best([&] { return bareParse(path); });
    const double reader = best([&] { return readerAlone(path); });
    const double once = best([&] { return readOnce(path); });
    const double again = best([&] { return readAgain(path); });
    std::fflush(stdout);
    dup2(shown, 1);
    close(nowhere);
    close(shown);
    std::remove(path.c_str());
    rmdir(directory);
    if (parse < 0 || reader < 0 || once < 0 || again < 0) {
        std::printf("a reading failed on the generated score\n");
        return 1;
    }
    std::printf("pugixml load_file:                       %7.3f s\n", parse);
    std::printf("reader alone:                            %7.3f s  (%.2f x the bare parse)\n",
                reader, reader / parse);
    std::printf("reader keeping its tree + tree readings: %7.3f s  (%.2f x)\n", once, once / parse);
    std::printf("reader + the text read again:            %7.3f s  (%.2f x)\n", again,
                again / parse);
    std::printf("peak memory: bare parse %.1f MB, read once %.1f MB, read again %.1f MB\n",
                parseKiB / 1024.0, onceKiB / 1024.0, againKiB / 1024.0);
    return 0;
}
