// Loading a score from memory: for the same bytes, loadScoreFromBuffer must print, fill and
// fail exactly as loadScore does for a file, down to each injected DOM failure.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "score_support.h"

namespace {

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Everything a load leaves behind that a caller can see.
struct Outcome {
    int result = 0;
    Captured output;
    std::vector<std::vector<int>> grid;  // per tick: right keys, right last ticks, left ...
    int tick = 0;
    int perQuarter = 0;
    int scan = 0;
    long calls = 0;
    long handles = 0;
};

Outcome finish(int result, const Captured& output) {
    Outcome outcome;
    outcome.result = result;
    outcome.output = output;
    for (size_t t = 0; t < rightNotes.size() || t < leftNotes.size(); ++t) {
        std::vector<int> row;
        for (const std::vector<NoteEvent>* hand : {&rightNotes, &leftNotes}) {
            if (t < hand->size()) {
                for (const NoteSlot& slot : (*hand)[t].slot) {
                    row.push_back(slot.key);
                    row.push_back(slot.lastTick);
                }
            }
        }
        outcome.grid.push_back(row);
    }
    outcome.tick = currentTick;
    outcome.perQuarter = divisions;
    outcome.scan = scanLength;
    outcome.calls = domCallsMade;
    outcome.handles = domLiveHandles;
    return outcome;
}

Outcome fromFile(const std::string& path, long failCall) {
    resetModel();
    domFailCallNumber = failCall;
    std::string program = "quorvel";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    int result = 0;
    Captured output = capture([&] { result = loadScore(2, argv); });
    domFailCallNumber = 0;
    return finish(result, output);
}

Outcome fromMemory(const std::string& bytes, const char* shownPath, long failCall) {
    resetModel();
    domFailCallNumber = failCall;
    int result = 0;
    Captured output =
        capture([&] { result = loadScoreFromBuffer(bytes.data(), bytes.size(), shownPath); });
    domFailCallNumber = 0;
    return finish(result, output);
}

void expectSame(const Outcome& file, const Outcome& memory) {
    EXPECT_EQ(file.result, memory.result);
    EXPECT_EQ(file.output.out, memory.output.out);
    EXPECT_EQ(file.output.err, memory.output.err);
    EXPECT_EQ(file.grid, memory.grid);
    EXPECT_EQ(file.tick, memory.tick);
    EXPECT_EQ(file.perQuarter, memory.perQuarter);
    EXPECT_EQ(file.scan, memory.scan);
    EXPECT_EQ(file.calls, memory.calls);
    EXPECT_EQ(memory.handles, 0);
}

std::string dataPath(const std::string& name) {
    return std::string(QUORVEL_SOURCE_DIR) + "/tests/data/" + name;
}

std::string toUtf16(const std::string& text, bool little) {
    std::string wide = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) {
        wide += little ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return wide;
}

}  // namespace

TEST(BufferLoad, PrintsFillsAndFailsExactlyAsTheFileLoad) {
    std::vector<std::string> paths = {std::string(QUORVEL_SOURCE_DIR) +
                                      "/debug/OrlundePianoSonata.xml"};
    for (const char* name :
         {"hostile_entity_bomb.xml", "hostile_remote_dtd.xml", "load_bad.xml", "load_no_piano.xml",
          "load_too_many_fingers.xml", "load_two_hands.xml", "playback_three_measures.xml"}) {
        paths.push_back(dataPath(name));
    }
    const std::string good =
        pianoScore(note("C", 4, 2, 1) + note("E", 4, 1, 1, true) +
                   "<backup><duration>2</duration></backup>" + note("C", 3, 1, 2) + rest(1, 2));
    const std::vector<std::string> generated = {
        good,
        toUtf16(good, true),
        toUtf16(good, false),
        "",
        "<score-partwise>\n  <part-list>\n   <bad attr=1/>",
        "\xEF\xBB\xBF<a>\n\xC3\xA9\xC3\xA9<b></a>",
        pianoScore(note("H", 4, 1, 1) + note("C", 4, 1, 3)),
        pianoScore(note("C", 4, 1, 1), 0),
    };
    for (size_t i = 0; i < generated.size(); ++i) {
        paths.push_back(writeTemp("buffer" + std::to_string(i) + ".xml", generated[i]));
    }
    int loaded = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const Outcome file = fromFile(path, 0);
        expectSame(file, fromMemory(fileBytes(path), path.c_str(), 0));
        loaded += file.result == 0 ? 1 : 0;
    }
    EXPECT_GE(loaded, 5);  // both successes and failures were compared

    // Without a shown path there is no File line and nothing else changes.
    const Outcome named = fromMemory(good, "shown.musicxml", 0);
    const Outcome anonymous = fromMemory(good, nullptr, 0);
    ASSERT_EQ(named.result, 0);
    EXPECT_EQ(named.output.out, "Loading MusicXML file...\nFile : shown.musicxml\n" + totals(1, 1));
    EXPECT_EQ(anonymous.output.out, "Loading MusicXML file...\n" + totals(1, 1));
    EXPECT_EQ(named.grid, anonymous.grid);
}

TEST(BufferLoad, ParseErrorsNameLineAndColumnOfTheBytesGiven) {
    const std::string bytes = "\xEF\xBB\xBF<score>\r\n  <part-list>\n\xC3\xA9 <x></y>";
    const Outcome memory = fromMemory(bytes, nullptr, 0);
    EXPECT_EQ(memory.result, -1);
    EXPECT_EQ(memory.output.out.rfind("Loading MusicXML file...\nCould not load the score: ", 0),
              0u);
    EXPECT_NE(memory.output.out.find(" at line 3, column 8\n"), std::string::npos)
        << memory.output.out;
    EXPECT_EQ(memory.handles, 0);
}

// Every fallible call fails in turn, the load of the bytes among them: the memory load reports
// the same call with the same words as the file load, and releases everything.
TEST(BufferLoad, EachInjectedFailureMatchesTheFileLoad) {
    const std::string path = dataPath("load_two_hands.xml");
    const std::string bytes = fileBytes(path);
    long n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 100000);
        SCOPED_TRACE("failing call " + std::to_string(n));
        const Outcome file = fromFile(path, n);
        const Outcome memory = fromMemory(bytes, path.c_str(), n);
        expectSame(file, memory);
        if (memory.result == 0) {
            break;
        }
        EXPECT_NE(memory.output.out.find("  0x80004005 = "), std::string::npos);
    }
    EXPECT_GT(n, 50);
}
