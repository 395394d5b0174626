// Preparation end to end: small scores written the ways notation programs write them, prepared,
// loaded through the strict reader, and the notes in its grids compared with the music.

#include <gtest/gtest.h>

#include <cmath>
#include <pugixml.hpp>
#include <random>

#include "prepare/prepare_support.h"

namespace {

constexpr int R = 0;  // right hand
constexpr int L = 1;  // left hand

PrepareResult prepareData(const std::string& name, std::vector<std::string> parts = {}) {
    PrepareResult result;
    PrepareOptions options;
    options.parts = std::move(parts);
    const bool ok = prepareScore("data/prepare/" + name, options, &result);
    EXPECT_TRUE(ok) << name << ": " << result.error;
    EXPECT_TRUE(result.error.empty());
    return result;
}

TEST(PrepareParts, ChoosesThePianoByItsNames) {
    const PrepareResult r = prepareData("choice_by_name.xml");
    expectMusic(r, 1, {{"C5", 0, 2, R}, {"E5", 2, 2, R}, {"C3", 0, 4, L}});
    EXPECT_NE(changeLine(r, "parts: P2 \"Pno.\" played as the piano part").find("left out: 1"),
              std::string::npos);
}

TEST(PrepareParts, NeverPercussionThenTheFirstPartWithPitchedNotes) {
    const PrepareResult r = prepareData("choice_percussion.xml");
    expectMusic(r, 1, {{"D5", 0, 1, R}, {"E5", 1, 1, R}});
    EXPECT_NE(changeLine(r, "parts: P2 \"Flute\""), "");
}

TEST(PrepareParts, OfTwoGrandPianosTheTwoStaffOne) {
    expectMusic(prepareData("choice_two_grand_pianos.xml"), 1, {{"C4", 0, 4, R}, {"C3", 0, 4, L}});
}

TEST(PrepareParts, HandsWrittenAsTwoPartsAreMergedAndTheShortOneIsPadded) {
    const PrepareResult r = prepareData("choice_hands_as_parts.xml");
    // The right hand's first measure is a beat short: its second measure still starts on beat 4.
    expectMusic(r, 1,
                {{"E5", 0, 1, R},
                 {"F5", 1, 1, R},
                 {"G5", 2, 1, R},
                 {"C6", 4, 4, R},
                 {"C3", 0, 4, L},
                 {"G2", 4, 4, L}});
    EXPECT_NE(changeLine(r, "parts: P2 \"Piano (right)\" played as the right hand and P1"), "");
}

TEST(PrepareParts, PartOptionChoosesByIdOrPosition) {
    expectMusic(prepareData("choice_by_name.xml", {"1"}), 1, {{"A5", 0, 4, R}});
    // Twice: right hand first, whatever the names say.
    expectMusic(prepareData("choice_hands_as_parts.xml", {"P1", "P2"}), 1,
                {{"C3", 0, 4, R},
                 {"G2", 4, 4, R},
                 {"E5", 0, 1, L},
                 {"F5", 1, 1, L},
                 {"G5", 2, 1, L},
                 {"C6", 4, 4, L}});
    PrepareResult r;
    EXPECT_FALSE(prepareScore("data/prepare/choice_by_name.xml", {{"P9"}}, &r));
    EXPECT_EQ(r.error, "--part P9: no such part (the parts are 1 P1 \"Voice\", 2 P2 \"Pno.\")");
    EXPECT_FALSE(prepareScore("data/prepare/choice_by_name.xml", {{"2", "P2"}}, &r));
    EXPECT_EQ(r.error, "--part names P2 \"Pno.\" twice");
    EXPECT_TRUE(r.xml.empty());
}

TEST(PrepareStaves, ClefsDecideTheHandsAndLaterClefsAreDropped) {
    const PrepareResult r = prepareData("staves_clefs.xml");
    expectMusic(r, 1,
                {{"C3", 0, 1, L},
                 {"D3", 1, 1, L},
                 {"E3", 2, 2, L},
                 {"C5", 0, 4, R},
                 {"C4", 4, 4, L},
                 {"E5", 4, 4, R}});
    EXPECT_EQ(changeLine(r, "clef changes"), "clef changes dropped: 1 (measure 2)");
    EXPECT_EQ(changeLine(r, "notes without a staff"),
              "notes without a staff put on staff 1: 1 (measure 1)");
    EXPECT_NE(changeLine(r, "hands: part P1 \"Piano\" has its F clef on staff 1"), "");
}

TEST(PrepareStaves, OneBassStaffIsTheLeftHand) {
    const PrepareResult r = prepareData("single_staff_bass.xml");
    expectMusic(r, 1, {{"C2", 0, 2, L}, {"G2", 2, 2, L}});
    EXPECT_NE(changeLine(r, "hands: part P1 \"Piano\" has one staff: every note to the left"), "");
}

TEST(PrepareTime, EveryDivisionsBecomesOne) {
    const PrepareResult r = prepareData("divisions.xml");
    expectMusic(r, 6,
                {{"C4", 0, 6, R},
                 {"D4", 6, 6, R},
                 {"E4", 12, 12, R},
                 {"C3", 0, 24, L},
                 {"F4", 24, 2, R},
                 {"G4", 26, 2, R},
                 {"A4", 28, 2, R},
                 {"B4", 30, 18, R},
                 {"G2", 24, 24, L},
                 {"C5", 48, 24, R},
                 {"F2", 48, 24, L}});
    // Triplet eighths and quarter notes: three ticks a quarter keep every note exact.
    EXPECT_EQ(divisions, 3);
    EXPECT_EQ(changeLine(r, "divisions:"),
              "divisions: 2, 3 and 4 stated; written once as 3 per quarter note, durations "
              "rescaled");
    EXPECT_EQ(changeLine(r, "notes before the first divisions"),
              "notes before the first divisions read with the first value stated: 1 (measure 1)");
}

TEST(PrepareTime, VoicesChordsTupletsTiesAndWhatIsNotPlayed) {
    const PrepareResult r = prepareData("voices.xml");
    expectMusic(r, 12,
                {{"C5", 0, 12, R},
                 {"E5", 0, 12, R},
                 {"G5", 12, 6, R},
                 {"A5", 18, 6, R},
                 {"B5", 24, 4, R},
                 {"C6", 28, 4, R},
                 {"D6", 32, 4, R},
                 {"F4", 24, 36, R},
                 {"G4", 60, 24, R},
                 {"A4", 84, 12, R},
                 {"C3", 0, 96, L}});
    EXPECT_EQ(changeLine(r, "grace"), "grace notes not played: 1 (measure 1)");
    EXPECT_EQ(changeLine(r, "cue"), "cue notes not played: 1 (measure 1)");
    EXPECT_EQ(changeLine(r, "unpitched"), "unpitched notes not played: 1 (measure 1)");
    EXPECT_EQ(changeLine(r, "tied"), "tied notes merged into held notes: 2 (measure 2)");
    EXPECT_EQ(changeLine(r, "voices"), "voices shorter than their measure padded: 1 (measure 1)");
    // Printed fingers: the first of "4-1", none for "p"; the held note keeps its first finger.
    int checked = 0;
    for (const PreparedNote& n : r.notes) {
        if (n.key == keyOf("G5") || n.key == keyOf("C3") || n.key == keyOf("A5")) {
            EXPECT_EQ(n.printedFinger, n.key == keyOf("G5") ? 4 : n.key == keyOf("C3") ? 5 : 0);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 3);
    EXPECT_NE(r.xml.find("<staff>1</staff><notations><technical><fingering>4</fingering>"),
              std::string::npos);
}

TEST(PrepareTime, NumbersAsEditorsWriteThem) {
    // Spaces around a value, a decimal point, a flat: all read as the numbers they are.
    const std::string measure =
        "<measure number=\"1\">" + pianoAttributes(2) +
        "<note><pitch><step>B</step><alter>-1</alter><octave> 3 </octave></pitch>"
        "<duration>2.0</duration><staff>1</staff></note>"
        "<note><pitch><step>d</step><octave>4</octave></pitch><duration> 6 </duration>"
        "<staff>1</staff></note></measure>";
    PrepareResult r;
    ASSERT_TRUE(prepareScoreText(scoreXml(measure, pianoPartList()), {}, &r)) << r.error;
    expectMusic(r, 1, {{"Bb3", 0, 1, R}, {"D4", 1, 3, R}});
}

TEST(PrepareTime, NotesLongerThanTheReaderTakesAreStruckAgain) {
    // A held note of three 4/4 measures at 480 ticks a quarter, beside a one-tick note.
    std::string measures;
    for (int m = 1; m <= 3; ++m) {
        measures += "<measure number=\"" + std::to_string(m) + "\">" +
                    (m == 1 ? pianoAttributes(480) : "") +
                    "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1920"
                    "</duration>" +
                    (m > 1 ? "<tie type=\"stop\"/>" : "") + (m < 3 ? "<tie type=\"start\"/>" : "") +
                    "<staff>1</staff></note><backup><duration>1920</duration></backup>" +
                    note("C", 3, 1, 2) + "</measure>";
    }
    PrepareResult r;
    ASSERT_TRUE(prepareScoreText(scoreXml(measures, pianoPartList()), {}, &r)) << r.error;
    expectMusic(r, 480,
                {{"C4", 0, 4999, R},
                 {"C4", 4999, 761, R},
                 {"C3", 0, 1, L},
                 {"C3", 1920, 1, L},
                 {"C3", 3840, 1, L}});
    EXPECT_EQ(changeLine(r, "notes longer"),
              "notes longer than 4999 ticks struck again every 4999 ticks: 1 (measure 1)");
}

TEST(PrepareHands, NoMoreThanFiveNotesInOneHand) {
    const PrepareResult r = prepareData("crowded.xml");
    expectMusic(r, 1,
                {{"C5", 0, 4, L},
                 {"D5", 0, 4, R},
                 {"E5", 0, 4, R},
                 {"F5", 0, 4, R},
                 {"G5", 0, 4, R},
                 {"A5", 0, 4, R},
                 {"C3", 0, 4, L},
                 {"E4", 4, 4, R},
                 {"G4", 4, 4, R},
                 {"C5", 4, 4, R},
                 {"E5", 4, 4, R},
                 {"G5", 4, 4, R},
                 {"C2", 4, 4, L},
                 {"E2", 4, 4, L},
                 {"G2", 4, 4, L},
                 {"C3", 4, 4, L},
                 {"E3", 4, 4, L},
                 // The left hand holds C4 already: the right hand's C4 doubles it.
                 {"E4", 8, 4, R},
                 {"G4", 8, 4, R},
                 {"C5", 8, 4, R},
                 {"E5", 8, 4, R},
                 {"G5", 8, 4, R},
                 {"C4", 8, 4, L}});
    EXPECT_EQ(changeLine(r, "notes beyond five in one hand moved"),
              "notes beyond five in one hand moved to the other hand: 1 (measure 1)");
    EXPECT_EQ(changeLine(r, "notes beyond five in one hand dropped as"),
              "notes beyond five in one hand dropped as doublings of another: 2 (measures 2, 3)");
}

TEST(PrepareHands, UnisonsAreStruckOnceBeforeTheHandsAreCounted) {
    // One staff: everything starts in the right hand; three keys are written twice.
    std::string chord;
    const char* const pitches[][2] = {{"C", "5"}, {"E", "5"}, {"G", "5"}, {"C", "5"}, {"E", "5"},
                                      {"G", "5"}, {"C", "2"}, {"E", "2"}, {"G", "2"}, {"C", "3"}};
    for (size_t i = 0; i < std::size(pitches); ++i) {
        chord += note(pitches[i][0], std::stoi(pitches[i][1]), 4, 1, i > 0);
    }
    const std::string measure =
        "<measure number=\"1\"><attributes><divisions>1</divisions>"
        "<clef><sign>G</sign><line>2</line></clef></attributes>" +
        chord + "</measure>";
    PrepareResult r;
    ASSERT_TRUE(prepareScoreText(scoreXml(measure, pianoPartList()), {}, &r)) << r.error;
    expectMusic(r, 1,
                {{"C2", 0, 4, L},
                 {"E2", 0, 4, L},
                 {"G2", 0, 4, R},
                 {"C3", 0, 4, R},
                 {"C5", 0, 4, R},
                 {"E5", 0, 4, R},
                 {"G5", 0, 4, R}});
    EXPECT_EQ(changeLine(r, "a key struck again"),
              "a key struck again while it sounds in the same hand is let go first: 3 (measure 1)");
    EXPECT_EQ(changeLine(r, "notes beyond five in one hand moved"),
              "notes beyond five in one hand moved to the other hand: 2 (measure 1)");
}

TEST(PrepareHands, NotesOutOfTheirStaffsReachArePlayedByTheOtherHand) {
    // Three measures of 4/4 in triplet eighths (3 divisions a quarter). The left hand's own voice
    // (5) plays C2 G2 C2 G2 in the first two. Measure 1: the right hand's triplets in the treble
    // staff. Measure 2: they begin in the bass staff (voice 1, as notation programs write a
    // voice moved across), out of the reach of a hand holding C2 and G2, and the right hand is
    // free: they are the right hand's. Measure 3: a left-hand arpeggio in another voice over the
    // held bass C2, two octaves from the right hand's chord: it stays in the left hand.
    std::string measures;
    std::vector<std::string> pitches;
    std::vector<Want> wants;
    auto add = [&](const std::string& name, int onset, int length, int staff, int voice, int hand,
                   bool chord = false) {
        const std::string step = name.substr(0, 1);
        std::string xml = note(step, std::stoi(name.substr(1)), length, staff, chord);
        xml.replace(xml.find("<voice>1</voice>"), 16,
                    "<voice>" + std::to_string(voice) + "</voice>");
        measures += xml;
        pitches.push_back(name);
        wants.push_back({nullptr, onset, length, hand});
    };
    const char* const triplet[] = {"E4", "G4", "C5", "E3", "G3", "C4"};
    const char* const bass[] = {"C2", "G2", "C2", "G2"};
    for (int m = 0; m < 2; ++m) {
        measures += "<measure number=\"" + std::to_string(m + 1) + "\">" +
                    (m == 0 ? pianoAttributes(3) : "");
        for (int i = 0; i < 12; ++i) {
            const bool across = m == 1 && i < 6;
            add(triplet[(i % 3) + (across ? 3 : 0)], 12 * m + i, 1, across ? 2 : 1, 1, R);
        }
        measures += "<backup><duration>12</duration></backup>";
        for (int i = 0; i < 4; ++i) {
            add(bass[i], 12 * m + 3 * i, 3, 2, 5, L);
        }
        measures += "</measure>";
    }
    measures += "<measure number=\"3\">";
    add("C6", 24, 12, 1, 1, R);
    add("E6", 24, 12, 1, 1, R, true);
    measures += "<backup><duration>12</duration></backup>";
    add("C2", 24, 12, 2, 5, L);
    measures += "<backup><duration>12</duration></backup>";
    const char* const arpeggio[] = {"C3", "E3", "G3", "C3"};
    for (int i = 0; i < 4; ++i) {
        add(arpeggio[i], 24 + 3 * i, 3, 2, 6, L);
    }
    measures += "</measure>";
    for (size_t i = 0; i < wants.size(); ++i) {
        wants[i].pitch = pitches[i].c_str();
    }
    PrepareResult r;
    ASSERT_TRUE(prepareScoreText(scoreXml(measures, pianoPartList()), {}, &r)) << r.error;
    expectMusic(r, 3, wants);
    EXPECT_EQ(changeLine(r, "notes out of"),
              "notes out of their staff's hand's reach played by the other hand: 6 (measure 2)");

    // One voice name for both staves, as some programs write them: the left hand's E3 struck
    // over its C2 held from the measure before (a tenth, wider than the hand spans) is still its
    // own, though the right hand rests then; no voice is "other" in a staff it is not mostly in.
    auto tied = [](std::string xml, const char* type) {
        return xml.replace(xml.find("</duration>"), 11,
                           std::string("</duration><tie type=\"") + type + "\"/>");
    };
    const std::string oneVoice =
        "<measure number=\"1\">" + pianoAttributes(1) + note("C", 5, 1, 1) + note("D", 5, 1, 1) +
        note("E", 5, 1, 1) + note("F", 5, 1, 1) + "<backup><duration>4</duration></backup>" +
        tied(note("C", 2, 4, 2), "start") + "</measure><measure number=\"2\">" + rest(2, 1) +
        note("G", 4, 1, 1) + note("A", 4, 1, 1) + "<backup><duration>4</duration></backup>" +
        tied(note("C", 2, 2, 2), "stop") + note("E", 3, 2, 2, true) + rest(2, 2) + "</measure>";
    PrepareResult same;
    ASSERT_TRUE(prepareScoreText(scoreXml(oneVoice, pianoPartList()), {}, &same)) << same.error;
    expectMusic(same, 1,
                {{"C5", 0, 1, R},
                 {"D5", 1, 1, R},
                 {"E5", 2, 1, R},
                 {"F5", 3, 1, R},
                 {"C2", 0, 6, L},
                 {"E3", 4, 2, L},
                 {"G4", 6, 1, R},
                 {"A4", 7, 1, R}});
    EXPECT_EQ(changeLine(same, "notes out of"), "");
}

TEST(PrepareHands, PitchesOutsideTheKeyboardAreDropped) {
    const PrepareResult r = prepareData("outside_keyboard.xml");
    expectMusic(r, 1, {{"A0", 1, 1, R}, {"C8", 2, 1, R}});
    EXPECT_EQ(changeLine(r, "notes outside"),
              "notes outside the keyboard (A0..C8) dropped: 2 (measure 1)");
}

// A transposing part (chosen when no piano is there) sounds below what is written; the
// transposition may change, octave and all.
TEST(PrepareHands, TransposingPartsPlayTheirSoundingPitch) {
    const PrepareResult r = prepareData("transposing.xml");
    expectMusic(r, 1, {{"A4", 0, 1, R}, {"C#5", 1, 1, R}, {"C4", 2, 2, R}});
    EXPECT_EQ(changeLine(r, "written pitches"),
              "written pitches of a transposing part played at their sounding pitch: 3 "
              "(measures 1, 2)");
}

// Tempo marks of the prepared document: (position in quarter notes, quarter notes a minute),
// each measure placed where the reader's cursor puts it.
std::vector<std::pair<double, double>> tempoMarks(const PrepareResult& r) {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_string(r.xml.c_str()));
    pugi::xml_node part = document.child("score-partwise").child("part");
    const double perQuarter =
        part.child("measure").child("attributes").child("divisions").text().as_double();
    std::vector<std::pair<double, double>> marks;
    long cursor = 0;
    for (pugi::xml_node measure : part.children("measure")) {
        const long start = cursor;
        bool leading = true;
        for (pugi::xml_node child : measure.children()) {
            const std::string name = child.name();
            if (name == "direction") {
                EXPECT_TRUE(leading) << "a tempo mark after the music of its measure";
                marks.emplace_back((start + child.child("offset").text().as_int()) / perQuarter,
                                   child.child("sound").attribute("tempo").as_double());
            } else {
                leading = false;
            }
            const long duration = child.child("duration").text().as_int();
            cursor += name == "backup" ? -duration : name == "attributes" ? 0 : duration;
        }
    }
    return marks;
}

TEST(PrepareTempo, SoundTempoFromEveryPartAtItsPlace) {
    const PrepareResult r = prepareData("tempo.xml");
    expectMusic(r, 2, {{"C5", 0, 2, R}, {"D5", 2, 6, R}, {"E5", 8, 8, R}});
    const std::vector<std::pair<double, double>> expected = {{0, 100}, {1, 120}, {6.5, 80}};
    EXPECT_EQ(tempoMarks(r), expected);
}

TEST(PrepareTempo, MetronomeWhenNoSoundTempo) {
    const PrepareResult r = prepareData("tempo_metronome.xml");
    const std::vector<std::pair<double, double>> expected = {{0, 90}};
    EXPECT_EQ(tempoMarks(r), expected);
}

TEST(PrepareScores, TimewiseScoresAreRead) {
    expectMusic(prepareData("timewise.xml"), 1,
                {{"E4", 0, 4, R}, {"A2", 0, 4, L}, {"F4", 4, 4, R}});
}

TEST(PrepareScores, MeasureNumbersAreKeptAsWrittenAndValidText) {
    // "12a" stays as it is; a byte that is not UTF-8 becomes "?" so that the reader can load it.
    const std::string measures =
        "<measure number=\"12a\">" + pianoAttributes(1) + note("C", 4, 4, 1) +
        "</measure><measure number=\"\xff\">" + note("D", 4, 4, 1) +
        "</measure><measure number=\"&lt;3&amp;&quot;\">" + note("E", 4, 4, 1) + "</measure>";
    PrepareResult r;
    ASSERT_TRUE(prepareScoreText(scoreXml(measures, pianoPartList()), {}, &r)) << r.error;
    expectMusic(r, 1, {{"C4", 0, 4, R}, {"D4", 4, 4, R}, {"E4", 8, 4, R}});
    EXPECT_NE(r.xml.find("<measure number=\"12a\">"), std::string::npos);
    EXPECT_NE(r.xml.find("<measure number=\"&#60;3&#38;&#34;\">"), std::string::npos);
    EXPECT_NE(r.xml.find("<measure number=\"?\">"), std::string::npos);
}

TEST(PrepareScores, WhatCannotBePreparedFailsWithOneLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"data/prepare/no_music.xml", "no piano music: the score has no part with pitched notes"},
        {"data/prepare/missing.xml", ""},
        {"data/load_bad.xml", "not well-formed XML: "},
    };
    for (const auto& [path, start] : cases) {
        PrepareResult r;
        EXPECT_FALSE(prepareScore(path, {}, &r)) << path;
        EXPECT_EQ(r.error.compare(0, start.size(), start), 0) << r.error;
        EXPECT_FALSE(r.error.empty());
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
        EXPECT_TRUE(r.xml.empty() && r.notes.empty());
    }
    const std::vector<std::string> texts = {"", "<a/>", "<score-partwise/>",
                                            "<score-partwise><part id='P1'/></score-partwise>"};
    for (const std::string& text : texts) {
        PrepareResult r;
        EXPECT_FALSE(prepareScoreText(text, {}, &r)) << text;
        EXPECT_FALSE(r.error.empty());
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
    }
}

// ---- invariant over generated scores --------------------------------------------------------

// A random piano score in the ways editors write them (divisions changing, two voices a staff,
// chords, rests, forwards, backups, short second voices, ties within and across measures, grace
// notes), and the notes it holds, in 24ths of a quarter note.
struct GeneratedScore {
    std::string xml;
    std::vector<Want> notes;
    std::vector<std::string> pitches;  // storage for the names the wants point at
};

std::string pitchName(int32_t key) {
    static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
    const int midi = key + 21;
    return std::string(kNames[midi % 12]) + std::to_string(midi / 12 - 1);
}

std::string pitchXml(int32_t key) {
    const std::string name = pitchName(key);
    return "<pitch><step>" + name.substr(0, 1) + "</step>" +
           (name[1] == '#' ? "<alter>1</alter>" : "") + "<octave>" +
           name.substr(name[1] == '#' ? 2 : 1) + "</octave></pitch>";
}

GeneratedScore generateScore(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int kDivisionChoices[] = {1, 2, 3, 4, 6, 8, 12, 24};
    // Disjoint key ranges per staff and voice, so no key sounds twice in one hand, and each
    // staff's two voices within a hand's reach (15 semitones), so every note keeps its staff's
    // hand.
    const int32_t kLow[2][2] = {{51, 46}, {20, 31}};
    struct Expected {
        int32_t key;
        int onset;
        int length;
        int hand;
    };
    std::vector<Expected> expected;
    int tieOpen[2] = {-1, -1};  // per staff, voice 1: the expected note a tie continues
    std::string measures;
    int start24 = 0;
    int perQuarter = 1;
    const int measureCount = 3 + pick(5);
    for (int m = 0; m < measureCount; ++m) {
        std::string body;
        if (m == 0 || pick(3) == 0) {
            perQuarter = kDivisionChoices[pick(8)];
            body += m == 0 ? pianoAttributes(perQuarter)
                           : "<attributes><divisions>" + std::to_string(perQuarter) +
                                 "</divisions></attributes>";
        }
        const int quarters = 2 + pick(3);
        const int length = quarters * perQuarter;
        const int to24 = 24 / perQuarter;
        int cursor = 0;  // where the last element left the position, in divisions
        int newTie[2] = {-1, -1};
        for (int staff = 0; staff < 2; ++staff) {
            const int voices = 1 + pick(2);
            for (int v = 0; v < voices; ++v) {
                if (cursor > 0) {
                    body += "<backup><duration>" + std::to_string(cursor) + "</duration></backup>";
                }
                int pos = 0;
                const int target = v == 0 ? length : pick(length + 1);
                while (pos < target) {
                    const int durations[] = {1, perQuarter / 2, perQuarter, 2 * perQuarter};
                    int d = std::max(1, durations[pick(4)]);
                    d = std::min(d, target - pos);
                    const int kind = pick(10);
                    const std::string staffXml = "<staff>" + std::to_string(staff + 1) + "</staff>";
                    if (pick(8) == 0) {
                        body += "<note><grace/>" + pitchXml(kLow[staff][v] + pick(8)) +
                                "<voice>1</voice>" + staffXml + "</note>";
                    }
                    if (v == 0 && pos == 0 && tieOpen[staff] >= 0) {
                        // The tie from the previous measure goes on with the same key.
                        Expected& held = expected[tieOpen[staff]];
                        body += "<note>" + pitchXml(held.key) + "<duration>" + std::to_string(d) +
                                "</duration><tie type=\"stop\"/>" + staffXml + "</note>";
                        held.length += d * to24;
                        tieOpen[staff] = -1;
                    } else if (kind < 2) {
                        body += "<note><rest/><duration>" + std::to_string(d) + "</duration>" +
                                staffXml + "</note>";
                    } else if (kind < 3) {
                        body += "<forward><duration>" + std::to_string(d) + "</duration></forward>";
                    } else {
                        const int chord = v == 0 ? 1 + pick(2) : 1;
                        const bool tieOn = v == 0 && chord == 1 && pos + d == length && pick(2);
                        for (int c = 0; c < chord; ++c) {
                            const int32_t key = kLow[staff][v] + 5 * c + pick(5);
                            body += std::string("<note>") + (c > 0 ? "<chord/>" : "") +
                                    pitchXml(key) + "<duration>" + std::to_string(d) +
                                    "</duration>" + (tieOn ? "<tie type=\"start\"/>" : "") +
                                    "<voice>" + std::to_string(v + 1) + "</voice>" + staffXml +
                                    "</note>";
                            expected.push_back({key, start24 + pos * to24, d * to24, staff});
                        }
                        if (tieOn) {
                            newTie[staff] = static_cast<int>(expected.size()) - 1;
                        }
                    }
                    pos += d;
                }
                cursor = pos;
            }
        }
        tieOpen[0] = newTie[0];
        tieOpen[1] = newTie[1];
        measures += "<measure number=\"" + std::to_string(m + 1) + "\">" + body + "</measure>";
        start24 += quarters * 24;
    }
    GeneratedScore score;
    score.xml = scoreXml(measures, pianoPartList());
    score.pitches.reserve(expected.size());
    for (const Expected& e : expected) {
        score.pitches.push_back(pitchName(e.key));
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        score.notes.push_back(
            {score.pitches[i].c_str(), expected[i].onset, expected[i].length, expected[i].hand});
    }
    return score;
}

TEST(PrepareInvariant, GeneratedScoresKeepExactlyTheirNotes) {
    for (unsigned seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const GeneratedScore score = generateScore(seed);
        PrepareResult r;
        // A score of rests only has no piano music to prepare.
        ASSERT_EQ(prepareScoreText(score.xml, {}, &r), !score.notes.empty()) << r.error;
        if (score.notes.empty()) {
            continue;
        }
        expectMusic(r, 24, score.notes);
        if (HasFailure()) {
            ADD_FAILURE() << score.xml;
            break;
        }
    }
}

}  // namespace
