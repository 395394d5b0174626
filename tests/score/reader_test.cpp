#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "score_support.h"

namespace {

const std::string kIntError = formatMessage("Error converting BSTR to int value.\n");

std::string twoHandsPath() {
    return std::string(QUORVEL_SOURCE_DIR) + "/tests/data/load_two_hands.xml";
}

// Runs a score and expects it to fail with exactly `message` on the format-error channel.
void expectFormatFailure(const std::string& name, const std::string& xml,
                         const std::string& message) {
    SCOPED_TRACE(name);
    LoadRun run = loadXml(name, xml);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.output.out, header(run.path));
    EXPECT_EQ(run.output.err, formatMessage(message));
    EXPECT_EQ(scanLength, 0);
    EXPECT_EQ(domLiveHandles, 0);
}

}  // namespace

TEST(TextToInt, AcceptsOnlyPlainDecimalsFromMinusTwoTo4999) {
    const std::pair<const char*, int> accepted[] = {{"-2", -2}, {"-1", -1}, {"0", 0},
                                                    {"1", 1},   {"42", 42}, {"4999", 4999}};
    for (const auto& [text, value] : accepted) {
        Captured captured = capture([&] { EXPECT_EQ(textToInt(text), value) << text; });
        EXPECT_EQ(captured.err, "") << text;
    }
    const char* rejected[] = {"+1",          "007", "-0",  "1.5", "0.5", "5000", "-3",
                              "99999999999", "",    "1 2", "x",   "-",   "12a",  nullptr};
    for (const char* text : rejected) {
        errno = 0;
        Captured captured = capture([&] { EXPECT_EQ(textToInt(text), -1); });
        EXPECT_EQ(captured.err, kIntError) << (text ? text : "(null)");
        EXPECT_EQ(captured.out, "");
    }
}

TEST(StepOffset, MapsLettersInEitherCase) {
    const std::pair<const char*, int> steps[] = {{"C", 1}, {"d", 3},  {"E", 5}, {"f", 6},
                                                 {"G", 8}, {"a", 10}, {"B", 12}};
    for (const auto& [text, offset] : steps) {
        EXPECT_EQ(stepOffset(text), offset);
    }
    errno = 0;
    Captured captured = capture([] { EXPECT_EQ(stepOffset("H"), -1); });
    EXPECT_EQ(captured.err, formatMessage("Error converting BSTR to pitch value.\n"));
}

TEST(Reader, OneMeasureOfFourQuartersPrintsTheTotals) {
    LoadRun run = loadXml("quarters.xml", pianoScore(note("C", 4, 2, 1) + note("D", 4, 2, 1) +
                                                         note("E", 4, 2, 1) + note("F", 4, 2, 1),
                                                     2));
    ASSERT_EQ(run.result, 0) << run.output.err;
    EXPECT_EQ(run.output.out, header(run.path) +
                                  "\nTotal duration: 7\nDivisions : 2\n"
                                  "Quarter Note Count : 3.500000\n");
    EXPECT_EQ(run.output.err, "");
    EXPECT_EQ(rightNotes.size(), 8u);
    EXPECT_EQ(leftNotes.size(), 8u);
    EXPECT_EQ(currentTick, 7);
    EXPECT_EQ(divisions, 2);
    EXPECT_EQ(scanLength, 8);
    const int keys[] = {39, 41, 43, 44};
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(keysOf(rightNotes[t]), (std::vector<int>{keys[t / 2], -1, -1, -1, -1}));
        EXPECT_EQ(rightNotes[t].slot[0].lastTick, t % 2);
        EXPECT_EQ(keysOf(leftNotes[t]), (std::vector<int>{-1, -1, -1, -1, -1}));
        EXPECT_EQ(lastTicksOf(leftNotes[t]), (std::vector<int>{1, 1, 1, 1, 1}));
    }
    EXPECT_EQ(domLiveHandles, 0);
}

TEST(Reader, KeyNumbersFollowStepAlterAndOctave) {
    LoadRun run = loadXml(
        "keys.xml", pianoScore(note("A", 0, 1, 2) + note("C", 4, 1, 2) + note("C", 8, 1, 2) +
                               note("B", 3, 1, 2, false, "-1") + note("B", 3, 1, 2, false, "1") +
                               note("c", 4, 1, 2, false, "0")));
    ASSERT_EQ(run.result, 0) << run.output.err;
    EXPECT_EQ(run.output.err, "");
    const int expected[] = {0, 39, 87, 37, 39, 39};
    ASSERT_EQ(leftNotes.size(), 6u);
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ(leftNotes[t].slot[0].key, expected[t]) << t;
        EXPECT_EQ(rightNotes[t].slot[0].key, -1);
    }
}

TEST(Reader, FractionalAlterIsReportedAndLowersTheKeyByOne) {
    LoadRun run = loadXml("alter.xml", pianoScore(note("D", 4, 1, 1, false, "0.5") +
                                                  note("D", 4, 1, 1, false, "-1.5") +
                                                  note("D", 4, 1, 1, false, "-1")));
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(run.output.err, kIntError + kIntError);
    EXPECT_EQ(rightNotes[0].slot[0].key, 40);
    EXPECT_EQ(rightNotes[1].slot[0].key, 40);
    EXPECT_EQ(rightNotes[2].slot[0].key, 40);
}

TEST(Reader, ChordsOfEqualShorterAndLongerNotes) {
    // Three equal notes share slots 0..2 of the same ticks and move time like one.
    LoadRun run = loadXml("chord.xml", pianoScore(note("C", 4, 2, 1) + note("E", 4, 2, 1, true) +
                                                  note("G", 4, 2, 1, true) + note("C", 5, 1, 1)));
    ASSERT_EQ(run.result, 0);
    ASSERT_EQ(rightNotes.size(), 3u);
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(keysOf(rightNotes[t]), (std::vector<int>{39, 43, 46, -1, -1}));
        EXPECT_EQ(lastTicksOf(rightNotes[t]), (std::vector<int>{t, t, t, 1, 1}));
    }
    EXPECT_EQ(keysOf(rightNotes[2]), (std::vector<int>{51, -1, -1, -1, -1}));
    EXPECT_EQ(currentTick, 2);

    // A shorter chord note ends with the note before it.
    run = loadXml("shorter.xml", pianoScore(note("C", 4, 3, 1) + note("E", 4, 1, 1, true)));
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int>{39, -1, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int>{39, -1, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[2]), (std::vector<int>{39, 43, -1, -1, -1}));
    EXPECT_EQ(rightNotes[2].slot[1].lastTick, 1);
    EXPECT_EQ(currentTick, 2);

    // A longer chord note starts before the note before it.
    run = loadXml("longer.xml",
                  pianoScore(note("C", 4, 1, 1) + note("D", 4, 2, 1) + note("F", 4, 3, 1, true)));
    ASSERT_EQ(run.result, 0);
    ASSERT_EQ(rightNotes.size(), 3u);
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int>{39, 44, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int>{41, 44, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[2]), (std::vector<int>{41, 44, -1, -1, -1}));
    EXPECT_EQ(lastTicksOf(rightNotes[2]), (std::vector<int>{1, 1, 1, 1, 1}));
}

TEST(Reader, VoicesJoinedByBackupFillFreeSlots) {
    const std::string measure = note("E", 5, 2, 1) + note("F", 5, 2, 1) +
                                "<backup><duration>4</duration></backup>" + note("C", 5, 4, 1) +
                                "<backup><duration>4</duration></backup>" + note("C", 3, 4, 2);
    LoadRun run = loadXml("voices.xml", pianoScore(measure));
    ASSERT_EQ(run.result, 0) << run.output.err;
    ASSERT_EQ(rightNotes.size(), 4u);
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int>{55, 51, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[3]), (std::vector<int>{56, 51, -1, -1, -1}));
    EXPECT_EQ(lastTicksOf(rightNotes[3]), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(keysOf(leftNotes[2]), (std::vector<int>{27, -1, -1, -1, -1}));
    EXPECT_EQ(currentTick, 3);

    expectFormatFailure("paststart.xml",
                        pianoScore(note("C", 4, 2, 1) + "<backup><duration>3</duration></backup>" +
                                   note("C", 3, 1, 2)),
                        "Unexpected Format: hand count overflow\n");
    expectFormatFailure("pastforward.xml",
                        pianoScore(note("C", 4, 2, 1) + "<backup><duration>3</duration></backup>" +
                                   "<forward><duration>1</duration></forward>"),
                        "Unexpected Format: hand count overflow: forward declaration\n");
    // A cursor that runs beyond the end (a chord note with an unreadable duration steps forward).
    expectFormatFailure(
        "beyond.xml",
        pianoScore(note("C", 4, 1, 1) +
                   "<note><chord/><rest/><duration>x</duration><staff>1</staff></note>" +
                   note("D", 4, 1, 1)),
        "Error converting BSTR to int value.\n: Success\nUnexpected Format: hand count overflow\n");
}

TEST(Reader, ForwardAppendsAtTheEndAndOnlyMovesInside) {
    LoadRun run = loadXml(
        "forward.xml", pianoScore(note("C", 4, 2, 1) + "<backup><duration>2</duration></backup>" +
                                  "<forward><duration>1</duration></forward>" + note("C", 3, 1, 2) +
                                  "<forward><duration>2</duration></forward>"));
    ASSERT_EQ(run.result, 0) << run.output.err;
    ASSERT_EQ(rightNotes.size(), 4u);
    EXPECT_EQ(leftNotes[0].slot[0].key, -1);
    EXPECT_EQ(leftNotes[1].slot[0].key, 27);
    for (int t = 2; t < 4; ++t) {
        EXPECT_EQ(keysOf(rightNotes[t]), (std::vector<int>{-1, -1, -1, -1, -1}));
        EXPECT_EQ(keysOf(leftNotes[t]), (std::vector<int>{-1, -1, -1, -1, -1}));
    }
    EXPECT_EQ(currentTick, 3);
}

TEST(Reader, GraceNotesTiesRestsAndLongDurations) {
    const std::string grace =
        "<note><grace/><pitch><step>D</step><octave>4</octave></pitch><staff>1</staff></note>";
    const std::string tie1 =
        "<note><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration>"
        "<tie type=\"start\"/><staff>1</staff></note>";
    const std::string tie2 =
        "<note><pitch><step>G</step><octave>4</octave></pitch><duration>1</duration>"
        "<tie type=\"stop\"/><staff>1</staff></note>";
    const std::string tooLong = note("A", 4, 5000, 1);
    const std::string tooLongChord = note("A", 4, 5000, 1, true);
    LoadRun run =
        loadXml("grace.xml", pianoScore(grace + tie1 + tie2 + tooLong + rest(1, 1) + tooLongChord));
    ASSERT_EQ(run.result, 0) << run.output.err;
    EXPECT_EQ(run.output.err, kIntError + kIntError);
    // The grace note adds nothing; the tie is two strikes; the rest moves time; the chord note
    // with an unreadable duration moves the cursor one tick on.
    ASSERT_EQ(rightNotes.size(), 4u);
    EXPECT_EQ(rightNotes[0].slot[0].key, 46);
    EXPECT_EQ(rightNotes[1].slot[0].key, 46);
    EXPECT_EQ(rightNotes[1].slot[0].lastTick, 1);
    EXPECT_EQ(rightNotes[2].slot[0].key, 46);
    EXPECT_EQ(rightNotes[2].slot[0].lastTick, 1);
    EXPECT_EQ(keysOf(rightNotes[3]), (std::vector<int>{-1, -1, -1, -1, -1}));
    EXPECT_EQ(currentTick, 4);
}

TEST(Reader, ASixthNoteFailsForEitherHand) {
    std::string right = note("C", 4, 2, 1);
    std::string left = note("C", 2, 2, 2);
    for (const char* step : {"D", "E", "F", "G", "A"}) {
        right += note(step, 4, 1, 1, true);
        left += note(step, 2, 1, 2, true);
    }
    expectFormatFailure("sixright.xml", pianoScore(right),
                        "Unexpected Format: unplayable format: not enough fingers (right hand)\n");
    expectFormatFailure("sixleft.xml",
                        pianoScore(rest(2, 1) + "<backup><duration>2</duration></backup>" + left),
                        "Unexpected Format: unplayable format: not enough fingers (left hand)\n");
    // Five are fine, and a rest leaves its slot free for a note.
    LoadRun run =
        loadXml("five.xml", pianoScore(rest(1, 1) + note("C", 4, 1, 1, true) +
                                       note("D", 4, 1, 1, true) + note("E", 4, 1, 1, true) +
                                       note("F", 4, 1, 1, true) + note("G", 4, 1, 1, true)));
    ASSERT_EQ(run.result, 0) << run.output.err;
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int>{39, 41, 43, 44, 46}));
}

TEST(Reader, DivisionsAndClefsMayBeStatedOnce) {
    const std::string again = "<attributes><divisions>1</divisions></attributes>";
    expectFormatFailure("divtwice.xml", pianoScore(note("C", 4, 1, 1) + again),
                        "Unexpected Format: Divisions already defined\n");
    const std::string toTreble =
        "<attributes><clef number=\"2\"><sign>G</sign></clef></attributes>";
    expectFormatFailure("clefchange.xml", pianoScore(note("C", 3, 1, 2) + toTreble),
                        "Unexpected Format: duplicate G clef\n");
    const std::string toBass = "<attributes><clef number=\"1\"><sign>F</sign></clef></attributes>";
    expectFormatFailure("clefchange2.xml", pianoScore(toBass),
                        "Unexpected Format: duplicate F clef\n");
    expectFormatFailure("nostaff3.xml", pianoScore(note("C", 4, 1, 3)),
                        "Unexpected Format: unexpected clef\n");
    // A first divisions of 0 may be stated again.
    LoadRun run =
        loadXml("divzero.xml",
                scoreXml("<measure><attributes><divisions>0</divisions><clef><sign>G</sign></clef>"
                         "</attributes><attributes><divisions>4</divisions></attributes>" +
                             note("C", 4, 4, 1) + "</measure>",
                         pianoPartList()));
    ASSERT_EQ(run.result, 0) << run.output.err;
    EXPECT_EQ(divisions, 4);
    EXPECT_EQ(scanLength, 16);
}

TEST(Reader, FindsThePianoByInstrumentNameOnly) {
    const std::string measures =
        "<measure>" + pianoAttributes(1) + note("C", 4, 1, 1) + "</measure>";
    for (const char* name : {"piano", "GRAND PIANO", "Acoustic Grand Piano", "  Piano  "}) {
        LoadRun run = loadXml("name.xml", scoreXml(measures, pianoPartList(name)));
        EXPECT_EQ(run.result, 0) << name;
    }
    for (const char* name : {"Piano 1", "Electric Piano", ""}) {
        expectFormatFailure("notpiano.xml", scoreXml(measures, pianoPartList(name)),
                            "Piano Part ID could not be found: Program exited\n");
    }
    // Named only in part-name: not recognised.
    expectFormatFailure(
        "partname.xml",
        scoreXml(measures, "<score-part id=\"P1\"><part-name>Piano</part-name></score-part>"),
        "Piano Part ID could not be found: Program exited\n");

    // Of two pianos the first wins, wherever its part stands.
    const std::string twoPianos =
        "<?xml version=\"1.0\"?><score-partwise><part-list>"
        "<score-part id=\"P9\"><score-instrument id=\"a\"><instrument-name>Violin</instrument-name>"
        "</score-instrument><score-instrument id=\"b\"><instrument-name>piano</instrument-name>"
        "</score-instrument></score-part>"
        "<score-part id=\"P2\"><score-instrument id=\"c\"><instrument-name>Piano</instrument-name>"
        "</score-instrument></score-part></part-list>"
        "<part id=\"P2\"><measure>" +
        pianoAttributes(1) + note("D", 4, 1, 1) +
        "</measure></part>"
        "<part id=\"p9\"><measure>" +
        pianoAttributes(1) + note("E", 4, 1, 1) +
        "</measure></part>"
        "</score-partwise>";
    LoadRun run = loadXml("twopianos.xml", twoPianos);
    ASSERT_EQ(run.result, 0) << run.output.err;
    ASSERT_EQ(rightNotes.size(), 1u);
    EXPECT_EQ(rightNotes[0].slot[0].key, 43);
}

TEST(Reader, MissingNodesEndTheReadingWithAClearMessage) {
    const std::string measures =
        "<measure>" + pianoAttributes(1) + note("C", 4, 1, 1) + "</measure>";
    expectFormatFailure("nolist.xml",
                        "<score-partwise><part id=\"P1\">" + measures + "</part></score-partwise>",
                        "Unexpected Format: the score has no part-list\n");
    expectFormatFailure("partnoid.xml",
                        "<score-partwise><part-list>" + pianoPartList() + "</part-list><part>" +
                            measures + "</part></score-partwise>",
                        "Unexpected Format: part without id\n");
    expectFormatFailure("entrynoid.xml",
                        scoreXml(measures,
                                 "<score-part><score-instrument><instrument-name>Piano"
                                 "</instrument-name></score-instrument></score-part>"),
                        "Unexpected Format: score-part without id\n");
    expectFormatFailure("nosign.xml", pianoScore("<attributes><clef number=\"1\"/></attributes>"),
                        "Unexpected Format: clef without sign\n");
    expectFormatFailure("nodivisions.xml",
                        scoreXml("<measure><attributes><clef><sign>G</sign></clef></attributes>" +
                                     note("C", 4, 1, 1) + "</measure>",
                                 pianoPartList()),
                        "Unexpected Format: divisions missing or not positive\n");
    expectFormatFailure("negdivisions.xml", pianoScore(note("C", 4, 1, 1), -2),
                        "Unexpected Format: divisions missing or not positive\n");
    expectFormatFailure("nonotes.xml", pianoScore(""),
                        "Unexpected Format: the piano part has no notes\n");

    // Part groups and an empty score-instrument are passed over; empty measures, notes and
    // pitches hold nothing to walk; a clef without a number is staff 1.
    LoadRun run = loadXml(
        "lenient.xml",
        scoreXml("<measure/><measure><attributes><divisions>1</divisions><clef><sign>G</sign>"
                 "</clef></attributes><note/><note><pitch/><duration>1</duration><staff>1</staff>"
                 "</note><backup/><forward/><attributes/>" +
                     note("C", 4, 1, 1) + "</measure>",
                 "<part-group type=\"start\"/><score-part id=\"P0\"><score-instrument/>"
                 "</score-part>" +
                     pianoPartList()));
    ASSERT_EQ(run.result, 0) << run.output.err;
    // A pitch without a step has no key: said so, and kept as a rest.
    EXPECT_EQ(run.output.err, formatMessage("Note outside the keyboard played as a rest: key -1 "
                                            "(the keys run from 0, A0, to 87, C8)\n"));
    ASSERT_EQ(rightNotes.size(), 2u);
    EXPECT_EQ(rightNotes[0].slot[0].key, -1);
    EXPECT_EQ(rightNotes[1].slot[0].key, 39);
}

TEST(Reader, NotesOutsideTheKeyboardArePlayedAsRests) {
    // G sharp 0 would be key -1, which reads as an empty slot.
    LoadRun run =
        loadXml("range.xml", pianoScore(note("G", 0, 1, 2, false, "1") + note("D", 8, 1, 1) +
                                        note("G", 0, 1, 2) + note("G", -1, 1, 2)));
    ASSERT_EQ(run.result, 0) << run.output.err;
    std::string expected;
    for (int key : {-1, 89, -2, -14}) {
        expected += formatMessage("Note outside the keyboard played as a rest: key " +
                                  std::to_string(key) + " (the keys run from 0, A0, to 87, C8)\n");
    }
    EXPECT_EQ(run.output.err, expected);
    ASSERT_EQ(rightNotes.size(), 4u);
    for (int t = 0; t < 4; ++t) {
        for (const std::vector<NoteEvent>* grid : {&rightNotes, &leftNotes}) {
            for (const NoteSlot& slot : (*grid)[t].slot) {
                EXPECT_TRUE(slot.key == -1 || (slot.key >= 0 && slot.key < 88));
            }
        }
    }
    EXPECT_EQ(currentTick, 3);  // each left-out note still takes its time
}

TEST(Reader, BackupsSoFarBackThatNothingCouldReturnStopTheReading) {
    std::string backups;
    for (int i = 0; i < 1700; ++i) {
        backups += "<backup><duration>4999</duration></backup>";
    }
    expectFormatFailure("farback.xml", pianoScore(note("C", 4, 1, 1) + backups),
                        "Unexpected Format: hand count overflow\n");
}

TEST(Reader, FileProblemsAreReportedWithTheParserReason) {
    LoadRun run = loadPath("/nonexistent/dir/score.xml");
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.output.out, header(run.path) +
                                  "Could not load the score: the file cannot be read (No such "
                                  "file or directory)\n");
    EXPECT_EQ(run.output.err, "");

    run = loadXml("badxml.xml", "<score-partwise>\n<part-list>\n</score-partwise>\n");
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.output.out,
              header(run.path) +
                  "Could not load the score: Start-end tags mismatch at line 3, column 3\n");
    EXPECT_EQ(run.output.err, "");
    EXPECT_TRUE(rightNotes.empty());
    EXPECT_EQ(domLiveHandles, 0);
}

TEST(Reader, ReadsUtf16AndIgnoresAnExternalDtd) {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<!DOCTYPE score-partwise PUBLIC "
        "\"-//Recordare//DTD MusicXML 3.1 Partwise//EN\" "
        "\"http://unreachable.invalid/partwise.dtd\">\n" +
        pianoScore(note("C", 4, 1, 1))
            .substr(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n").size());
    std::string wide = "\xFF\xFE";
    for (char c : xml) {
        wide += c;
        wide += '\0';
    }
    LoadRun run = loadXml("utf16.xml", wide);
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    EXPECT_EQ(rightNotes[0].slot[0].key, 39);
}

TEST(Reader, WithoutArgumentsTheDefaultScoreIsReadWithoutAFileLine) {
    resetModel();
    char program[] = "quorvel";
    char* argv[] = {program, nullptr};
    int result = 0;
    // The tests run in tests/, where ../debug/ is the bundled score's directory.
    Captured captured = capture([&] { result = loadScore(1, argv); });
    EXPECT_EQ(captured.out.rfind("Loading MusicXML file...\n", 0), 0u);
    EXPECT_EQ(captured.out.find("File : "), std::string::npos);
    if (access(kDefaultScorePath, R_OK) != 0) {
        EXPECT_EQ(result, -1);
        EXPECT_NE(captured.out.find("Could not load the score: "), std::string::npos);
    } else if (result == 0) {
        EXPECT_NE(captured.out.find("Total duration: "), std::string::npos);
    }

    // Only the first of several arguments counts.
    resetModel();
    std::string first = twoHandsPath();
    char other[] = "ignored.xml";
    char* many[] = {program, first.data(), other, nullptr};
    captured = capture([&] { result = loadScore(3, many); });
    EXPECT_EQ(result, 0) << captured.out;
    EXPECT_EQ(captured.out, header(first) + totals(6, 1));
}

TEST(Reader, TheSampleScoreFillsBothHands) {
    LoadRun run = loadPath(twoHandsPath());
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    EXPECT_EQ(run.output.out, header(run.path) + totals(6, 1));
    ASSERT_EQ(rightNotes.size(), 7u);
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int>{39, 43, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[2]), (std::vector<int>{37, -1, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[3]), (std::vector<int>{-1, -1, -1, -1, -1}));
    EXPECT_EQ(keysOf(rightNotes[6]), (std::vector<int>{87, -1, -1, -1, -1}));
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(leftNotes[t].slot[0].key, 0);
        EXPECT_EQ(leftNotes[t].slot[0].lastTick, t == 3 ? 1 : 0);
    }
}

// Every fallible DOM call the reader makes on a real score, failed in turn: each run reports
// exactly that call, returns -1, prints nothing else and releases everything it held.
TEST(Reader, EachFailingDomCallIsReportedOnceAndReleasesEverything) {
    const std::string path = twoHandsPath();
    std::set<std::pair<std::string, std::string>> seen;
    long n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 100000);
        resetModel();
        domFailCallNumber = n;
        resetModel();
        domFailCallNumber = n;
        std::string argument = path;
        char program[] = "quorvel";
        char* argv[] = {program, argument.data(), nullptr};
        int result = 0;
        Captured captured = capture([&] { result = loadScore(2, argv); });
        domFailCallNumber = 0;
        if (result == 0) {
            break;
        }
        SCOPED_TRACE("failing call " + std::to_string(n));
        EXPECT_EQ(result, -1);
        // Only the progress lines come before the report (the document is created before the
        // file is named).
        std::string text = captured.out;
        for (const std::string& lead :
             {std::string("Loading MusicXML file...\n"), "File : " + path + "\n"}) {
            if (text.compare(0, lead.size(), lead) == 0) {
                text.erase(0, lead.size());
            }
        }
        HrcallReport report;
        ASSERT_TRUE(parseHrcallReport(text, &report)) << captured.out;
        EXPECT_EQ(report.status, "80004005");
        const std::string tail = report.file.substr(report.file.rfind("/src/score/") + 1);
        EXPECT_TRUE(tail == "src/score/dom.cpp" || tail == "src/score/musicxml_reader.cpp")
            << report.file;
        EXPECT_EQ(captured.err, "");
        EXPECT_EQ(scanLength, 0);
        EXPECT_EQ(domLiveHandles, 0);
        // The line named is the line of the call in that file.
        std::ifstream source(report.file);
        std::string line;
        for (long i = report.line; i > 0 && std::getline(source, line); --i) {
        }
        EXPECT_NE(line.find("HRCALL("), std::string::npos) << line;
        seen.insert({report.message, report.callText});
    }
    EXPECT_GT(n, 100);
    const std::set<std::pair<std::string, std::string>> table = {
        {"Create a new DOMDocument",
         "CoCreateInstance(__uuidof(MSXML2::DOMDocument30), NULL, CLSCTX_INPROC_SERVER, "
         "__uuidof(IXMLDOMDocument), (void**)&pxmldoc)"},
        {"should never fail", "pxmldoc->put_async(VARIANT_FALSE)"},
        {"should never fail", "pxmldoc->put_validateOnParse(VARIANT_FALSE)"},
        {"should never fail", "pxmldoc->put_resolveExternals(VARIANT_FALSE)"},
        {"dom->load(): ", "pXMLDom->load(var, &status)"},
        {"dom->selectSingleNode: ", "pXMLDom->selectSingleNode(bstr, &pNode)"},
        {"dom->get_attributes: ", "pNode->get_attributes(&x)"},
        {"getNamedItem", "x->getNamedItem(bstr, &attr)"},
        {"get_nodeName", "pNode->get_nodeName(&bstr)"},
        {"nodeVal", "attr->get_nodeValue(&attrVal)"},
        {"firstChild", "pNode->get_firstChild(&cNode)"},
        {"get_nodeName", "cNode->get_nodeName(&bstr)"},
        {"firstChild", "cNode->get_firstChild(&cNode2)"},
        {"nodeTypedValue", "cNode2->get_nodeTypedValue(&attrVal)"},
        {"parentNode", "pNode->get_parentNode(&pNode)"},
        {"getNodName", "pNode->get_nodeName(&bstr)"},
        {"nodename", "cNode->get_nodeName(&bstr)"},
        {"nodename", "cNode2->get_nodeName(&bstr)"},
        {"firstChild", "cNode2->get_firstChild(&cNode3)"},
        {"nodename", "cNode3->get_nodeName(&bstr)"},
        {"firstChild", "cNode3->get_firstChild(&cNode4)"},
        {"nodename", "cNode4->get_nodeName(&bstr)"},
        {"nodeTypedValue", "cNode4->get_nodeTypedValue(&val2)"},
        {"nodeTypedValue", "cNode3->get_nodeTypedValue(&val2)"},
        {"dom->get_attributes: ", "cNode3->get_attributes(&x)"},
        {"nodeVal", "attr->get_nodeValue(&attrVal2)"},
        {"getfirstchild", "cNode3->get_firstChild(&cNode4)"},
        {"clefType", "cNode4->get_nodeTypedValue(&cleftype)"},
    };
    EXPECT_EQ(seen, table);
}

TEST(Reader, AFailingLoadCallGivesOneReportAndNoParseError) {
    resetModel();
    domFailCallNumber = 5;  // create, three settings, then the load
    LoadRun run{0, {}, "/nonexistent.xml"};
    std::string argument = run.path;
    char program[] = "quorvel";
    char* argv[] = {program, argument.data(), nullptr};
    run.output = capture([&] { run.result = loadScore(2, argv); });
    domFailCallNumber = 0;
    EXPECT_EQ(run.result, -1);
    EXPECT_NE(run.output.out.find(
                  "HRCALL Failed: dom->load(): \n  0x80004005 = pXMLDom->load(var, &status)\n"),
              std::string::npos);
    EXPECT_EQ(run.output.out.find("Could not load"), std::string::npos);
    EXPECT_EQ(domLiveHandles, 0);
}
