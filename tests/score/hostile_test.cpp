// Broken and hostile scores through loadScore: each one ends with a clear message (or loads
// safely), never with a crash, a hang, a read outside the file or an unbounded allocation.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "score_support.h"

namespace {

const std::string kIntError = formatMessage("Error converting BSTR to int value.\n");
const std::string kPitchError = formatMessage("Error converting BSTR to pitch value.\n");

std::string hostileData(const std::string& name) {
    return std::string(QUORVEL_SOURCE_DIR) + "/tests/data/" + name;
}

std::string outsideKeyboard(int key) {
    return formatMessage("Note outside the keyboard played as a rest: key " + std::to_string(key) +
                         " (the keys run from 0, A0, to 87, C8)\n");
}

void expectLoadFailure(const LoadRun& run, const std::string& out, const std::string& err) {
    SCOPED_TRACE(run.path);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.output.out, header(run.path) + out);
    EXPECT_EQ(run.output.err, err);
    EXPECT_EQ(scanLength, 0);
    EXPECT_EQ(domLiveHandles, 0);
}

void expectFormatFailure(const std::string& name, const std::string& xml,
                         const std::string& message) {
    SCOPED_TRACE(name);
    expectLoadFailure(loadXml(name, xml), "", formatMessage(message));
}

// Every slot of both grids names a key on the keyboard or none, and the grids are equally long.
void expectPlayableGrids() {
    ASSERT_EQ(rightNotes.size(), leftNotes.size());
    for (const std::vector<NoteEvent>* grid : {&rightNotes, &leftNotes}) {
        for (const NoteEvent& event : *grid) {
            for (const NoteSlot& slot : event.slot) {
                ASSERT_TRUE(slot.key == kNoKey || (slot.key >= 0 && slot.key < kKeyCount));
            }
        }
    }
}

std::string repeat(const std::string& text, int times) {
    std::string all;
    all.reserve(text.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

}  // namespace

TEST(Hostile, BackupAndForwardApplyEveryDurationTheyHold) {
    // Two durations in one forward: both steps are taken, appending at the end.
    LoadRun run =
        loadXml("twoforward.xml",
                pianoScore(note("C", 4, 1, 1) +
                           "<forward><duration>2</duration><voice>1</voice><duration>3</duration>"
                           "</forward>" +
                           note("D", 4, 1, 1)));
    ASSERT_EQ(run.result, 0) << run.output.err;
    ASSERT_EQ(rightNotes.size(), 7u);
    EXPECT_EQ(rightNotes[6].slot[0].key, 41);
    EXPECT_EQ(currentTick, 6);

    // Two durations in one backup: the cursor goes back by their sum, so the second voice
    // starts at the beginning of the measure.
    run = loadXml("twobackup.xml",
                  pianoScore(note("C", 4, 4, 1) +
                             "<backup><duration>1</duration><duration>3</duration></backup>" +
                             note("E", 4, 1, 1)));
    ASSERT_EQ(run.result, 0) << run.output.err;
    ASSERT_EQ(rightNotes.size(), 4u);
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int>{39, 43, -1, -1, -1}));
    EXPECT_EQ(currentTick, 0);

    // Each step is bounded on its own: the second duration of this backup leaves the timeline
    // behind, and the forward that follows says so.
    expectFormatFailure("backuppast.xml",
                        pianoScore(note("C", 4, 2, 1) +
                                   "<backup><duration>2</duration><duration>1</duration></backup>"
                                   "<forward><duration>1</duration></forward>"),
                        "Unexpected Format: hand count overflow: forward declaration\n");
    // A forward whose first duration cannot be read (-1) and whose second moves on.
    run = loadXml("badforward.xml",
                  pianoScore(note("C", 4, 1, 1) +
                             "<forward><duration>x</duration><duration>2</duration></forward>"));
    ASSERT_EQ(run.result, 0) << run.output.err;
    EXPECT_EQ(run.output.err, kIntError);
    EXPECT_EQ(rightNotes.size(), 3u);
}

TEST(Hostile, FilesThatAreNotScores) {
    LoadRun run = loadXml("empty.xml", "");
    expectLoadFailure(
        run, "Could not load the score: No document element found at line 1, column 1\n", "");

    run = loadPath(std::string(QUORVEL_SOURCE_DIR) + "/tests/data");
    expectLoadFailure(run, "Could not load the score: the file cannot be read (Is a directory)\n",
                      "");

    // Bytes of every value, zero included: rejected by the parser, never read past.
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary += static_cast<char>((i * 37 + 11) & 0xFF);
    }
    run = loadXml("binary.xml", binary);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.output.out.rfind(header(run.path) + "Could not load the score: ", 0), 0u)
        << run.output.out;
    EXPECT_EQ(run.output.err, "");
    EXPECT_TRUE(rightNotes.empty());

    // A path longer than the system allows.
    run = loadPath("/tmp/" + std::string(5000, 'a') + ".xml");
    expectLoadFailure(
        run, "Could not load the score: the file cannot be read (File name too long)\n", "");

    // A stream without an end is cut off at the size limit rather than read until memory runs
    // out.
    run = loadPath("/dev/zero");
    expectLoadFailure(run, "Could not load the score: the file cannot be read (File too large)\n",
                      "");
}

TEST(Hostile, AFileWithoutReadPermissionIsReportedAsUnreadable) {
    const std::string path = writeTemp("locked.xml", pianoScore(note("C", 4, 1, 1)));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    const std::string expected =
        "Could not load the score: the file cannot be read (Permission denied)\n";
    if (geteuid() != 0) {
        expectLoadFailure(loadPath(path), expected, "");
        return;
    }
    // Root reads any file, so the load runs in a child that has given up root for the
    // unprivileged user; it hands back what it printed and the result through a file.
    const std::string report = writeTemp("locked.out", "");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* out = std::fopen(report.c_str(), "w");
        if (out == nullptr || setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(2);
        }
        LoadRun run = loadPath(path);
        std::fprintf(out, "%d\n%s", run.result, run.output.out.c_str());
        std::fclose(out);
        _exit(run.output.err.empty() && domLiveHandles == 0 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "2: could not drop root, 3: stray output or handles";
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "-1\n" + header(path) + expected);
}

TEST(Hostile, Utf16WithoutAByteOrderMarkIsRecognised) {
    const std::string xml = pianoScore(note("C", 4, 1, 1) + note("D", 2, 1, 2));
    for (bool little : {true, false}) {
        std::string wide;
        for (char c : xml) {
            wide += little ? std::string{c, '\0'} : std::string{'\0', c};
        }
        LoadRun run = loadXml(little ? "utf16le.xml" : "utf16be.xml", wide);
        ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
        EXPECT_EQ(rightNotes[0].slot[0].key, 39);
        EXPECT_EQ(leftNotes[1].slot[0].key, 17);
    }
}

TEST(Hostile, EntitiesAreNeitherExpandedNorFetched) {
    // Billion laughs: the internal subset is skipped, so the references stay as they are
    // written: an unknown step, a pitch error, and the note kept as a rest.
    LoadRun run = loadPath(hostileData("hostile_entity_bomb.xml"));
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    EXPECT_EQ(run.output.err, kPitchError);
    EXPECT_LT(run.output.out.size(), 200u);
    ASSERT_EQ(rightNotes.size(), 2u);
    EXPECT_EQ(rightNotes[0].slot[0].key, -1 + 12 * 3 + 2);  // the step's offset reads as -1
    EXPECT_EQ(rightNotes[1].slot[0].key, 39);

    // An external entity that names a local file: the file is never read. The marker file
    // also spells "Piano", so reading it would have turned the first entry into the piano.
    const std::string marker = "QUORVEL-SECRET-7d41";
    const std::string secret = writeTemp("secret.txt", "Piano");
    const std::string secret2 = writeTemp("secret2.txt", marker);
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise [\n<!ENTITY name SYSTEM \"file://" +
        secret + "\">\n<!ENTITY mark SYSTEM \"file://" + secret2 + "\">\n]>\n" +
        scoreXml("<measure>" + pianoAttributes(1) +
                     "<note><pitch><step>&mark;</step><octave>4</octave></pitch>"
                     "<duration>1</duration><staff>1</staff></note>" +
                     note("C", 4, 1, 1) + "</measure>",
                 "<score-part id=\"P0\"><score-instrument><instrument-name>&name;"
                 "</instrument-name></score-instrument></score-part>" +
                     pianoPartList())
            .substr(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n").size());
    run = loadXml("external.xml", xml);
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    EXPECT_EQ(run.output.out.find(marker), std::string::npos);
    EXPECT_EQ(run.output.err.find(marker), std::string::npos);
    EXPECT_EQ(run.output.err, kPitchError);
    ASSERT_EQ(rightNotes.size(), 2u);
    EXPECT_EQ(rightNotes[0].slot[0].key, -1 + 12 * 3 + 2);  // &mark; was no step
    EXPECT_EQ(rightNotes[1].slot[0].key, 39);

    // A DOCTYPE naming a remote DTD and a parameter entity: nothing is fetched, the score loads.
    run = loadPath(hostileData("hostile_remote_dtd.xml"));
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    EXPECT_EQ(run.output.err, "");
    EXPECT_EQ(rightNotes.size(), 1u);
}

TEST(Hostile, DeepNestingNeverExhaustsTheStack) {
    const int depth = 100000;
    const std::string open = repeat("<x>", depth);
    const std::string close = repeat("</x>", depth);
    // Deep in a measure (skipped), in a note (skipped), in a step (its whole text content is
    // gathered), in the part list before the piano, and above the part list.
    const std::string measure =
        "<measure>" + pianoAttributes(1) + "<direction>" + open + close + "</direction>" +
        "<note>" + open + close + "<pitch><step>" + open + "C" + close +
        "</step><octave>4</octave></pitch><duration>1</duration><staff>1</staff></note>" +
        "</measure>";
    const std::string xml = "<score-partwise>" + open + close +
                            "<part-list><score-part id=\"P0\">" + open + close + "</score-part>" +
                            pianoPartList() + "</part-list><part id=\"P1\">" + measure +
                            "</part></score-partwise>";
    LoadRun run = loadXml("deep.xml", xml);
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    ASSERT_EQ(rightNotes.size(), 1u);
    EXPECT_EQ(rightNotes[0].slot[0].key, 39);

    // A part list buried deep: still found by the search for the first part-list.
    run = loadXml("deeplist.xml", "<score-partwise>" + open + "<part-list>" + pianoPartList() +
                                      "</part-list><part id=\"P1\">" + measure + "</part>" + close +
                                      "</score-partwise>");
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    EXPECT_EQ(rightNotes.size(), 1u);
}

TEST(Hostile, MegabyteTexts) {
    const std::string mega(1 << 20, '7');
    const std::string megaName(1 << 20, 'P');
    // A megabyte of digits is no number; a megabyte step no letter; a megabyte instrument name
    // no piano; a megabyte id matches only itself.
    LoadRun run = loadXml("megadur.xml",
                          pianoScore("<note><pitch><step>" + megaName + "</step><octave>" + mega +
                                     "</octave></pitch><duration>" + mega +
                                     "</duration><staff>1</staff></note>" + note("C", 4, 1, 1)));
    ASSERT_EQ(run.result, 0) << run.output.err.substr(0, 500);
    EXPECT_EQ(run.output.err, kPitchError + kIntError + kIntError);
    ASSERT_EQ(rightNotes.size(), 1u);  // the unreadable duration (-1) places nothing
    EXPECT_EQ(rightNotes[0].slot[0].key, 39);

    expectFormatFailure(
        "meganame.xml",
        scoreXml("<measure>" + pianoAttributes(1) + note("C", 4, 1, 1) + "</measure>",
                 pianoPartList(megaName)),
        "Piano Part ID could not be found: Program exited\n");

    // A megabyte id on both the entry and its part is matched like any other.
    const std::string megaId(1 << 20, 'i');
    std::string xml = pianoScore(note("C", 4, 1, 1));
    for (size_t at = xml.find("\"P1\""); at != std::string::npos; at = xml.find("\"P1\"", at)) {
        xml.replace(at + 1, 2, megaId);
    }
    run = loadXml("megaid.xml", xml);
    ASSERT_EQ(run.result, 0) << run.output.err.substr(0, 500);
    EXPECT_EQ(rightNotes.size(), 1u);

    // A megabyte staff number matches no clef.
    expectFormatFailure(
        "megastaff.xml",
        pianoScore("<note><rest/><duration>1</duration><staff>" + mega + "</staff></note>"),
        "Unexpected Format: unexpected clef\n");
}

TEST(Hostile, DurationsOctavesAndAlterationsOutOfRange) {
    // Negative durations place nothing; -2 is a number, the rest are conversion errors (-1).
    LoadRun run = loadXml(
        "negdur.xml",
        pianoScore(note("C", 4, -2, 1) +
                   "<note><pitch><step>D</step><octave>4</octave></pitch><duration>-3</duration>"
                   "<staff>1</staff></note>"
                   "<note><pitch><step>D</step><octave>4</octave></pitch>"
                   "<duration>99999999999999999999</duration><staff>1</staff></note>"
                   "<forward><duration>-2</duration></forward>" +
                   note("E", 4, 1, 1)));
    ASSERT_EQ(run.result, 0) << run.output.err;
    EXPECT_EQ(run.output.err, kIntError + kIntError);
    ASSERT_EQ(rightNotes.size(), 1u);
    EXPECT_EQ(rightNotes[0].slot[0].key, 43);

    // A backup of -2 moves the cursor two ticks on, past the end: the next note cannot land.
    expectFormatFailure("negbackup.xml",
                        pianoScore(note("C", 4, 1, 1) + "<backup><duration>-2</duration></backup>" +
                                   note("C", 4, 1, 1)),
                        "Unexpected Format: hand count overflow\n");
    // So does a chord note of negative duration.
    expectFormatFailure(
        "negchord.xml",
        pianoScore(note("C", 4, 1, 1) + note("D", 4, -2, 1, true) + note("E", 4, 1, 1)),
        "Unexpected Format: hand count overflow\n");

    // Octaves and alterations far off the keyboard, repeated so that the sum would overflow a
    // 32-bit key: every such note is a rest, with its key said, and the grids stay playable.
    const std::string manyAlters = repeat("<alter>4999</alter>", 500000);
    run = loadXml("offkeys.xml",
                  pianoScore("<note><pitch><step>C</step><octave>4999</octave></pitch>"
                             "<duration>1</duration><staff>1</staff></note>"
                             "<note><pitch><step>C</step><alter>-2</alter><octave>-2</octave>"
                             "</pitch><duration>1</duration><staff>2</staff></note>"
                             "<note><pitch><step>C</step>" +
                             manyAlters +
                             "<octave>4</octave></pitch><duration>1</duration><staff>1</staff>"
                             "</note>" +
                             note("B", 8, 1, 1) + note("A", 0, 1, 2, false, "-1")));
    ASSERT_EQ(run.result, 0) << run.output.err.substr(0, 500);
    EXPECT_EQ(run.output.err, outsideKeyboard(1 + 12 * 4998 + 2) +
                                  outsideKeyboard(1 - 2 - 12 * 3 + 2) + outsideKeyboard(1 << 30) +
                                  outsideKeyboard(98) + outsideKeyboard(-1));
    expectPlayableGrids();
    EXPECT_EQ(rightNotes.size(), 5u);
}

TEST(Hostile, PartsThatHoldNothingToPlay) {
    const std::string list = pianoPartList();
    expectFormatFailure(
        "nopiano.xml",
        scoreXml("<measure>" + pianoAttributes(1) + note("C", 4, 1, 1) + "</measure>",
                 "<score-part id=\"P1\"><score-instrument><instrument-name>Violin"
                 "</instrument-name></score-instrument></score-part>"),
        "Piano Part ID could not be found: Program exited\n");
    // No measures: no divisions were ever stated.
    expectFormatFailure("nomeasures.xml", scoreXml("", list),
                        "Unexpected Format: divisions missing or not positive\n");
    expectFormatFailure("emptymeasures.xml",
                        scoreXml("<measure>" + pianoAttributes(1) +
                                     "</measure><measure/><measure>"
                                     "</measure>",
                                 list),
                        "Unexpected Format: the piano part has no notes\n");
    // Notes without a staff are never placed.
    expectFormatFailure(
        "nostaff.xml",
        pianoScore("<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration>"
                   "</note><note><rest/><duration>4</duration></note>"),
        "Unexpected Format: the piano part has no notes\n");

    // An empty measure between full ones is nothing; clefs without numbers are both staff 1,
    // where the G clef wins, so a note on staff 2 has no hand.
    LoadRun run =
        loadXml("nonumbers.xml",
                scoreXml("<measure><attributes><divisions>1</divisions><clef><sign>G</sign></clef>"
                         "<clef><sign>F</sign></clef></attributes>" +
                             note("C", 4, 1, 1) + "</measure><measure/><measure>" +
                             note("D", 4, 1, 1) + "</measure>",
                         list));
    ASSERT_EQ(run.result, 0) << run.output.err;
    ASSERT_EQ(rightNotes.size(), 2u);
    EXPECT_EQ(rightNotes[1].slot[0].key, 41);
    EXPECT_EQ(keysOf(leftNotes[0]), (std::vector<int>{-1, -1, -1, -1, -1}));
    expectFormatFailure("staff2.xml",
                        scoreXml("<measure><attributes><divisions>1</divisions><clef><sign>G"
                                 "</sign></clef><clef><sign>F</sign></clef></attributes>" +
                                     note("C", 4, 1, 2) + "</measure>",
                                 list),
                        "Unexpected Format: unexpected clef\n");
}
