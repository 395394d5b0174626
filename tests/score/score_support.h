#pragma once

// Helpers shared by the score tests: capture what the code prints, write scores to temporary
// files, reset the model and run the reader.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "score/dom.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

struct Captured {
    std::string out;  // standard output
    std::string err;  // standard error
};

inline std::string readAll(FILE* file) {
    std::string text;
    std::rewind(file);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, n);
    }
    return text;
}

// Runs `body` with standard output and standard error sent to temporary files.
template <typename Body>
Captured capture(Body body) {
    std::fflush(stdout);
    std::fflush(stderr);
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    const int savedOut = dup(1);
    const int savedErr = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    Captured captured{readAll(out), readAll(err)};
    std::fclose(out);
    std::fclose(err);
    return captured;
}

inline void resetModel() {
    rightNotes.clear();
    leftNotes.clear();
    currentTick = -1;
    divisions = 0;
    scanLength = 0;
    domCallsMade = 0;
    domFailCallNumber = 0;
    errno = 0;
}

// The temporary files the tests wrote, removed when the test program ends.
struct TempFiles {
    std::vector<std::string> paths;
    ~TempFiles() {
        for (const std::string& path : paths) {
            std::remove(path.c_str());
        }
    }
};
inline TempFiles tempFiles;

// Writes `bytes` to a fresh file in the test's temporary directory and returns its path.
inline std::string writeTemp(const std::string& name, const std::string& bytes) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/quorvel_score_" +
                       std::to_string(getpid()) + "_" + name;
    std::ofstream file(path, std::ios::binary);
    file << bytes;
    tempFiles.paths.push_back(path);
    return path;
}

// A piano-only part list.
inline std::string pianoPartList(const std::string& instrument = "Piano") {
    return "<score-part id=\"P1\"><part-name>Piano</part-name>"
           "<score-instrument id=\"P1-I1\"><instrument-name>" +
           instrument + "</instrument-name></score-instrument></score-part>";
}

// The attributes that open a two-staff piano part: G clef on staff 1, F clef on staff 2.
inline std::string pianoAttributes(int divisionsPerQuarter) {
    return "<attributes><divisions>" + std::to_string(divisionsPerQuarter) +
           "</divisions><staves>2</staves><clef number=\"1\"><sign>G</sign><line>2</line></clef>"
           "<clef number=\"2\"><sign>F</sign><line>4</line></clef></attributes>";
}

// A whole score: `partList` inside part-list, then part P1 made of `measures`.
inline std::string scoreXml(const std::string& measures, const std::string& partList) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">\n"
           "<part-list>" +
           partList + "</part-list>\n<part id=\"P1\">" + measures + "</part>\n</score-partwise>\n";
}

// One measure of a piano part at `divisionsPerQuarter` holding `content`.
inline std::string pianoScore(const std::string& content, int divisionsPerQuarter = 1) {
    return scoreXml(
        "<measure number=\"1\">" + pianoAttributes(divisionsPerQuarter) + content + "</measure>",
        pianoPartList());
}

// A note element; `extra` goes between pitch and duration (for <chord/> use `chord`).
inline std::string note(const std::string& step, int octave, int duration, int staff,
                        bool chord = false, const std::string& alter = "") {
    return std::string("<note>") + (chord ? "<chord/>" : "") + "<pitch><step>" + step + "</step>" +
           (alter.empty() ? "" : "<alter>" + alter + "</alter>") + "<octave>" +
           std::to_string(octave) + "</octave></pitch><duration>" + std::to_string(duration) +
           "</duration><voice>1</voice><type>quarter</type><staff>" + std::to_string(staff) +
           "</staff></note>";
}

inline std::string rest(int duration, int staff) {
    return "<note><rest/><duration>" + std::to_string(duration) + "</duration><staff>" +
           std::to_string(staff) + "</staff></note>";
}

struct LoadRun {
    int result;
    Captured output;
    std::string path;
};

// Resets the model and loads `path` as the program would with one argument.
inline LoadRun loadPath(const std::string& path) {
    resetModel();
    std::string program = "quorvel";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    int result = 0;
    Captured output = capture([&] { result = loadScore(2, argv); });
    return {result, output, path};
}

// Writes `xml` to a temporary file and loads it.
inline LoadRun loadXml(const std::string& name, const std::string& xml) {
    return loadPath(writeTemp(name, xml));
}

inline std::string header(const std::string& path) {
    return "Loading MusicXML file...\nFile : " + path + "\n";
}

// What perror prints for `message` with errno 0.
inline std::string formatMessage(const std::string& message) {
    return message + ": Success\n";
}

inline std::string totals(int total, int perQuarter) {
    char quarters[64];
    std::snprintf(quarters, sizeof quarters, "%f",
                  static_cast<double>(total) / static_cast<double>(perQuarter));
    return "\nTotal duration: " + std::to_string(total) +
           "\nDivisions : " + std::to_string(perQuarter) + "\nQuarter Note Count : " + quarters +
           "\n";
}

// The keys of one record, slot by slot.
inline std::vector<int> keysOf(const NoteEvent& event) {
    std::vector<int> keys;
    for (const NoteSlot& slot : event.slot) {
        keys.push_back(slot.key);
    }
    return keys;
}

inline std::vector<int> lastTicksOf(const NoteEvent& event) {
    std::vector<int> last;
    for (const NoteSlot& slot : event.slot) {
        last.push_back(slot.lastTick);
    }
    return last;
}

// One HRCALL report, taken apart.
struct HrcallReport {
    std::string file;
    long line = 0;
    std::string message;
    std::string status;  // the eight hex digits
    std::string callText;
};

// Parses `text` as exactly one report, "<file>:<line>  HRCALL Failed: <message>\n  0x<eight
// lower-case hex digits> = <call text>\n", and nothing else.
inline bool parseHrcallReport(const std::string& text, HrcallReport* report) {
    const std::string failed = "  HRCALL Failed: ";
    const size_t mark = text.find(failed);
    const size_t colon = mark == std::string::npos ? mark : text.rfind(':', mark);
    if (colon == std::string::npos || colon + 1 == mark) {
        return false;
    }
    const std::string line = text.substr(colon + 1, mark - colon - 1);
    if (line.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const size_t end = text.find('\n', mark);
    const std::string second = end == std::string::npos ? "" : text.substr(end + 1);
    if (second.size() < 16 || second.compare(0, 4, "  0x") != 0 ||
        second.compare(12, 3, " = ") != 0 || second.back() != '\n' ||
        second.find('\n') != second.size() - 1) {
        return false;
    }
    report->status = second.substr(4, 8);
    if (report->status.find_first_not_of("0123456789abcdef") != std::string::npos) {
        return false;
    }
    report->file = text.substr(0, colon);
    report->line = std::stol(line);
    report->message = text.substr(mark + failed.size(), end - mark - failed.size());
    report->callText = second.substr(15, second.size() - 16);
    return true;
}
