// The fingered exercises of tests/data/fingering against both planners: the printed fingers are
// read back exactly as written, and the whole-piece planner gives far more notes the book's
// finger than the region planner. bench_fingering_accuracy prints the figures per file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/optimal_planner.h"
#include "fingering/optimal_printed.h"
#include "fingering/planner.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

const std::string kFolder = QUORVEL_SOURCE_DIR "/tests/data/fingering";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void load(const std::string& path) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    std::string program = "test";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    ASSERT_EQ(loadScore(2, argv), 0) << path;
    createKeyStates();
}

size_t matches(const std::vector<PrintedFinger>& printed) {
    size_t count = 0;
    for (const PrintedFinger& p : printed) {
        const std::vector<NoteEvent>& grid = p.hand == 0 ? rightNotes : leftNotes;
        count += grid.at(p.tick).slot[p.finger].key == p.key ? 1 : 0;
    }
    return count;
}

TEST(OptimalAccuracy, PlannerFollowsTheBooksOnTheFingeredExercises) {
    size_t notes = 0, region = 0, optimal = 0, files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kFolder)) {
        if (entry.path().extension() != ".xml") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        const std::string text = readFile(entry.path().string());
        std::vector<PrintedFinger> printed;
        std::string error;
        ASSERT_TRUE(readPrintedFingers(text, &printed, &error)) << error;
        load(entry.path().string());
        // Every note of these files carries a fingering, and each one lands on a note of the
        // grid at its tick, in its hand.
        size_t written = 0;
        for (size_t at = text.find("<note>"); at != std::string::npos;
             at = text.find("<note>", at + 1)) {
            ++written;
        }
        ASSERT_EQ(printed.size(), written);
        for (const PrintedFinger& p : printed) {
            const NoteEvent& event = (p.hand == 0 ? rightNotes : leftNotes).at(p.tick);
            bool found = false;
            for (const NoteSlot& slot : event.slot) {
                found = found || slot.key == p.key;
            }
            ASSERT_TRUE(found) << "hand " << p.hand << " tick " << p.tick << " key " << p.key;
        }
        planRightHand();
        planLeftHand();
        region += matches(printed);
        load(entry.path().string());
        planHandsOptimal({});
        optimal += matches(printed);
        notes += printed.size();
        ++files;
    }
    ASSERT_GE(files, 10u);
    // Measured: the region planner matches about 31 % of the printed fingers, this one about
    // 89 % with its fitted costs (87 % with the hand-set rules alone). The floor leaves room for
    // retuning, not for losing the scales; a refit keeps these exercises at 85 % or above.
    EXPECT_GE(optimal * 100, notes * 80) << optimal << " of " << notes;
    EXPECT_GE(optimal * 100, notes * 85) << optimal << " of " << notes;
    EXPECT_GE(optimal, region * 2) << optimal << " against " << region;
}

TEST(OptimalAccuracy, PrintedFingersReadFromTheDocument) {
    const std::string xml =
        "<score-partwise><part-list><score-part id='P1'><score-instrument id='I'>"
        "<instrument-name>Piano</instrument-name></score-instrument></score-part></part-list>"
        "<part id='P1'><measure><attributes><divisions>1</divisions>"
        "<clef number='1'><sign>G</sign></clef><clef number='2'><sign>F</sign></clef>"
        "</attributes>"
        "<note><pitch><step>C</step><octave>4</octave></pitch><duration>2</duration>"
        "<staff>1</staff><notations><technical><fingering>1</fingering></technical>"
        "</notations></note>"
        "<note><chord/><pitch><step>E</step><alter>-1</alter><octave>4</octave></pitch>"
        "<duration>2</duration><staff>1</staff><notations><technical><fingering>3-2</fingering>"
        "</technical></notations></note>"
        "<note><grace/><pitch><step>D</step><octave>4</octave></pitch><staff>1</staff>"
        "<notations><technical><fingering>2</fingering></technical></notations></note>"
        "<backup><duration>2</duration></backup><forward><duration>1</duration></forward>"
        "<note><pitch><step>A</step><octave>0</octave></pitch><duration>1</duration>"
        "<staff>2</staff><notations><technical><fingering>5</fingering></technical>"
        "</notations></note>"
        "<note><pitch><step>B</step><octave>0</octave></pitch><duration>1</duration>"
        "<staff>2</staff><notations><technical><fingering>9</fingering></technical>"
        "</notations></note></measure></part></score-partwise>";
    std::vector<PrintedFinger> printed;
    std::string error;
    ASSERT_TRUE(readPrintedFingers(xml, &printed, &error)) << error;
    ASSERT_EQ(printed.size(), 3u);  // the grace note and the finger 9 are left out
    EXPECT_EQ(printed[0].hand, 0);
    EXPECT_EQ(printed[0].tick, 0);
    EXPECT_EQ(printed[0].key, 39);
    EXPECT_EQ(printed[0].finger, 0);
    EXPECT_EQ(printed[1].tick, 0);
    EXPECT_EQ(printed[1].key, 42);
    EXPECT_EQ(printed[1].finger, 2);
    EXPECT_EQ(printed[2].hand, 1);
    EXPECT_EQ(printed[2].tick, 1);
    EXPECT_EQ(printed[2].key, 0);
    EXPECT_EQ(printed[2].finger, 4);
    EXPECT_FALSE(readPrintedFingers("<unclosed", &printed, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
