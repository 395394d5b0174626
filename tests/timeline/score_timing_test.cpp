#include "prepare/prepare.h"
#include "timeline_support.h"

using namespace timeline_test;

namespace {
// A document with a piano part (two staves) whose measures are given, and optionally a second
// part before the piano in the part list.
std::string score(const std::string& pianoMeasures, const std::string& otherMeasures = "") {
    std::string xml = "<?xml version=\"1.0\"?><score-partwise><part-list>";
    if (!otherMeasures.empty()) {
        xml +=
            "<score-part id=\"V\"><score-instrument id=\"V1\"><instrument-name>Violin"
            "</instrument-name></score-instrument></score-part>";
    }
    xml +=
        "<score-part id=\"P\"><score-instrument id=\"P1\"><instrument-name>piano"
        "</instrument-name></score-instrument></score-part></part-list>";
    if (!otherMeasures.empty()) {
        xml += "<part id=\"V\">" + otherMeasures + "</part>";
    }
    return xml + "<part id=\"P\">" + pianoMeasures + "</part></score-partwise>";
}

std::string attributes(int div) {
    return "<attributes><divisions>" + std::to_string(div) +
           "</divisions><clef number=\"1\"><sign>G</sign></clef>"
           "<clef number=\"2\"><sign>F</sign></clef></attributes>";
}

std::string note(int duration, int staff = 1, bool chord = false, const char* step = "C") {
    return std::string("<note>") + (chord ? "<chord/>" : "") + "<pitch><step>" + step +
           "</step><octave>4</octave></pitch><duration>" + std::to_string(duration) +
           "</duration><staff>" + std::to_string(staff) + "</staff></note>";
}

std::string sound(double tempo) {
    return "<direction><direction-type><words>x</words></direction-type><sound tempo=\"" +
           std::to_string(tempo) + "\"/></direction>";
}

std::string metronome(const char* unit, bool dot, const char* perMinute) {
    return std::string("<direction><direction-type><metronome><beat-unit>") + unit +
           "</beat-unit>" + (dot ? "<beat-unit-dot/>" : "") + "<per-minute>" + perMinute +
           "</per-minute></metronome></direction-type></direction>";
}

ScoreTiming read(const std::string& xml) {
    ScoreTiming timing;
    std::string error;
    EXPECT_TRUE(readScoreTiming(xml.data(), xml.size(), &timing, &error)) << error;
    // The reader agrees on the length of the piece.
    EXPECT_TRUE(loadAndPlan(xml));
    EXPECT_EQ(timing.endTick, static_cast<int32_t>(rightNotes.size()));
    return timing;
}

void expectTempo(const ScoreTiming& timing, std::vector<TempoChange> expected) {
    ASSERT_EQ(timing.tempo.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(timing.tempo[i].tick, expected[i].tick) << i;
        EXPECT_NEAR(timing.tempo[i].quartersPerMinute, expected[i].quartersPerMinute, 1e-9) << i;
    }
}
}  // namespace

TEST(ScoreTiming, SoundTempoPlacedWithTheReadersCursor) {
    // Measure 1: a chord, a backup into the left hand, and a tempo after the left-hand note
    // (tick 6). Measure 2 starts where the cursor ended (tick 8): its tempo after one note.
    const ScoreTiming timing = read(score(
        "<measure number=\"1\">" + attributes(2) + sound(100) + note(4) + note(4, 1, true, "E") +
        note(4) + "<backup><duration>8</duration></backup>" + note(6, 2) + sound(80) + note(2, 2) +
        "</measure><measure number=\"2a\">" + note(3) + sound(150.5) + note(1) + "</measure>"));
    EXPECT_EQ(timing.divisions, 2);
    expectTempo(timing, {{0, 100.0}, {6, 80.0}, {11, 150.5}});
    ASSERT_EQ(timing.measures.size(), 2u);
    EXPECT_EQ(measureTick(timing, "2a"), 8);
    EXPECT_EQ(measureEndTick(timing, "1"), 8);
    EXPECT_EQ(measureEndTick(timing, "2a"), 12);
    EXPECT_EQ(measureTick(timing, "3"), -1);
    EXPECT_EQ(measureEndTick(timing, "3"), -1);
    EXPECT_EQ(measureAt(timing, 9), "2a");
    // Seconds follow each tempo from its tick; the inverse gives the tick back.
    const double expected = 6 * 60.0 / (100 * 2) + 5 * 60.0 / (80 * 2) + 0.5 * 60.0 / (150.5 * 2);
    EXPECT_NEAR(tickToSeconds(timing, 11.5), expected, 1e-12);
    for (double tick : {0.0, 3.5, 6.0, 10.99, 11.0, 40.0}) {
        EXPECT_NEAR(secondsToTick(timing, tickToSeconds(timing, tick)), tick, 1e-9);
    }
}

TEST(ScoreTiming, PreparedDirectionsWithOffsets) {
    const std::string d = "<direction><direction-type><words/></direction-type><offset>";
    const ScoreTiming timing =
        read(score("<measure number=\"1\">" + d + "0</offset><sound tempo=\"72\"/></direction>" +
                   d + "3</offset><sound tempo=\"96\"/></direction>" + attributes(4) + note(16) +
                   "</measure><measure number=\"2\">" + d +
                   "5</offset><sound tempo=\"60\"/></direction>" + note(16, 2) + "</measure>"));
    expectTempo(timing, {{0, 72.0}, {3, 96.0}, {21, 60.0}});
}

TEST(ScoreTiming, MetronomeOnlyWhereNoSoundTempo) {
    // Dotted quarter = 60 is 90 quarters a minute; a half = 40 is 80; "c. 132" reads as 132.
    ScoreTiming timing =
        read(score("<measure number=\"1\">" + attributes(4) + metronome("quarter", true, "60") +
                   note(8) + metronome("half", false, "40") + note(8) +
                   metronome("eighth", false, "c. 132") + note(4) + "</measure>"));
    expectTempo(timing, {{0, 90.0}, {8, 80.0}, {16, 66.0}});
    // With a sound tempo anywhere, metronome marks are only print.
    timing =
        read(score("<measure number=\"1\">" + attributes(4) + metronome("quarter", false, "60") +
                   note(8) + sound(132) + note(8) + "</measure>"));
    expectTempo(timing, {{0, 120.0}, {8, 132.0}});
}

TEST(ScoreTiming, NoTempoIsOneHundredTwentyAndBadTemposAreSkipped) {
    const ScoreTiming timing =
        read(score("<measure number=\"1\">" + attributes(8) +
                   "<direction><sound tempo=\"fast\"/></direction><sound tempo=\"0\"/>" +
                   "<sound tempo=\"-30\"/>" + note(8) + "</measure>"));
    expectTempo(timing, {{0, 120.0}});
    EXPECT_NEAR(tickToSeconds(timing, 8), 0.5, 1e-12);
}

TEST(ScoreTiming, TempoInAnotherPartUsesThatPartsCursorAndDivisions) {
    // The violin counts in 3 divisions a quarter, the piano in 4: after two violin quarters
    // (one a chord of two notes) and a backup/forward pair, tick 8 of the piano.
    const std::string violin =
        "<measure number=\"1\"><attributes><divisions>3</divisions></attributes>"
        "<note><pitch><step>A</step><octave>4</octave></pitch><duration>3</duration></note>"
        "<note><chord/><pitch><step>C</step><octave>5</octave></pitch><duration>3</duration>"
        "</note><backup><duration>3</duration></backup><forward><duration>6</duration>"
        "</forward>" +
        sound(66) + "</measure><measure number=\"2\">" +
        "<direction><direction-type><words/></direction-type><offset>3</offset>" +
        "<sound tempo=\"99\"/></direction></measure>";
    const ScoreTiming timing =
        read(score("<measure number=\"1\">" + attributes(4) + note(16) +
                       "</measure><measure number=\"2\">" + note(16) + "</measure>",
                   violin));
    expectTempo(timing, {{0, 120.0}, {8, 66.0}, {12, 99.0}});
    // Only the piano's measures count.
    EXPECT_EQ(timing.measures.size(), 2u);
}

TEST(ScoreTiming, BadDocumentsGiveOneLine) {
    const std::string cases[] = {"", "<score-partwise><part-list>", "plain text",
                                 "<score-partwise><part-list/></score-partwise>",
                                 score("<measure number=\"1\">" + note(4) + "</measure>")};
    for (const std::string& xml : cases) {
        ScoreTiming timing;
        std::string error;
        EXPECT_FALSE(readScoreTiming(xml.data(), xml.size(), &timing, &error)) << xml;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_TRUE(timing.tempo.empty());
    }
}

TEST(ScoreTiming, BundledScoreMeasuresMatchItsGrid) {
    const std::string xml = readFile(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml");
    const ScoreTiming timing = read(xml);
    expectTempo(timing, {{0, 112.0}});
    ASSERT_EQ(timing.measures.size(), 66u);
    // Four quarters of four ticks a measure, one after the other.
    for (size_t i = 0; i < timing.measures.size(); ++i) {
        EXPECT_EQ(timing.measures[i].number, std::to_string(i + 1));
        EXPECT_EQ(timing.measures[i].tick, static_cast<int32_t>(16 * i));
    }
    EXPECT_EQ(measureEndTick(timing, "66"), timing.endTick);
}

TEST(ScoreTiming, RealExportsAgreeWithTheirMidiTempoBeforeAndAfterPreparation) {
    const std::string dir = QUORVEL_SOURCE_DIR "/tests/data/real/";
    for (const char* name : {"chords", "clefchange", "divisions", "pickup", "scales", "ties",
                             "tuplets", "twoparts", "twovoices"}) {
        SCOPED_TRACE(name);
        // The MIDI export's tempo: microseconds a quarter in its first tempo event.
        const std::string midi = readFile(dir + name + ".mid");
        const size_t at = midi.find("\xFF\x51\x03");
        ASSERT_NE(at, std::string::npos);
        ASSERT_LE(at + 6, midi.size());
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(midi[at + 3 + i]); };
        const double midiTempo = 60e6 / ((byte(0) << 16) | (byte(1) << 8) | byte(2));

        const std::string source = readFile(dir + name + ".musicxml");
        PrepareResult prepared;
        ASSERT_TRUE(prepareScoreText(source, PrepareOptions{}, &prepared)) << prepared.error;
        ScoreTiming after = read(prepared.xml);
        expectInvariants(buildTimeline(after, TimelineOptions{}));
        ScoreTiming before;
        std::string error;
        ASSERT_TRUE(readScoreTiming(source.data(), source.size(), &before, &error)) << error;
        for (const ScoreTiming* timing : {&before, &after}) {
            ASSERT_EQ(timing->tempo.size(), 1u);
            EXPECT_NEAR(timing->tempo[0].quartersPerMinute, midiTempo, 0.01);
        }
        // Where the source's piano notes carry their staff, measures start at the same moments.
        if (before.endTick > 0) {
            ASSERT_EQ(before.measures.size(), after.measures.size());
            for (size_t i = 0; i < before.measures.size(); ++i) {
                EXPECT_NEAR(tickToSeconds(before, before.measures[i].tick),
                            tickToSeconds(after, after.measures[i].tick), 1e-9);
            }
        }
    }
}
