// Ornaments and articulation as the performance plays them. Each of our own small pieces
// (tools/ornament_material.py: 4/4 at 120 a minute, so a quarter note is half a second) is
// prepared for the performance, planned by the whole-piece planner as the session plans, and
// turned into the timeline; the notes it plays are compared with a list written out by hand
// from what a pianist plays, and every note must be fingered and reached by its hand.

#include <map>
#include <tuple>

#include "fingering/optimal_planner.h"
#include "prepare/prepare.h"
#include "support/midi_notes.h"
#include "timeline_support.h"

using namespace timeline_test;

namespace {

const std::string kOrnaments = QUORVEL_SOURCE_DIR "/tests/data/ornaments/";

// A note as the list gives it: key (0 = A0, 39 = C4) and onset and end in quarter notes.
struct Played {
    int key;
    double onset;
    double end;
};

std::string show(const std::vector<Played>& notes) {
    std::ostringstream text;
    for (const Played& n : notes) {
        text << "  {" << n.key << ", " << n.onset << ", " << n.end << "}\n";
    }
    return text.str();
}

// The piece performed: its notes by onset then key, in quarter notes. Every frame's invariants
// are checked on the way, among them that the fingertip of every sounding note is over its key,
// so every ornament note is fingered and reached.
std::vector<Played> perform(const std::string& name, Timeline* timeline = nullptr) {
    PrepareOptions options;
    options.ornaments = true;
    PrepareResult prepared;
    const std::string file = name.find('.') == std::string::npos ? name + ".musicxml" : name;
    EXPECT_TRUE(prepareScore(kOrnaments + file, options, &prepared)) << prepared.error;
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    EXPECT_EQ(loadScoreFromBuffer(prepared.xml.data(), prepared.xml.size(), nullptr), 0);
    createKeyStates();
    std::vector<int32_t> starts;
    for (const PieceMeasure& m : prepared.piece.measures) {
        starts.push_back(m.tick);
    }
    planHandsOptimal({}, starts);
    ScoreTiming timing;
    std::string error;
    EXPECT_TRUE(readScoreTiming(prepared.xml.data(), prepared.xml.size(), &timing, &error))
        << error;
    const Timeline tl = buildTimeline(timing, TimelineOptions{});
    expectInvariants(tl);
    std::vector<Played> notes;
    for (const TimedNote& n : tl.notes) {
        notes.push_back({n.key, static_cast<double>(n.tick) / timing.divisions,
                         static_cast<double>(n.endTick) / timing.divisions});
    }
    std::sort(notes.begin(), notes.end(), [](const Played& a, const Played& b) {
        return std::tie(a.onset, a.key) < std::tie(b.onset, b.key);
    });
    if (timeline != nullptr) {
        *timeline = tl;
    }
    return notes;
}

void expectPlayed(const std::string& name, std::vector<Played> expected) {
    std::sort(expected.begin(), expected.end(), [](const Played& a, const Played& b) {
        return std::tie(a.onset, a.key) < std::tie(b.onset, b.key);
    });
    const std::vector<Played> played = perform(name);
    bool same = played.size() == expected.size();
    for (size_t i = 0; same && i < played.size(); ++i) {
        same = played[i].key == expected[i].key &&
               std::fabs(played[i].onset - expected[i].onset) < 1e-9 &&
               std::fabs(played[i].end - expected[i].end) < 1e-9;
    }
    EXPECT_TRUE(same) << name << ": played\n" << show(played) << "expected\n" << show(expected);
}

// Keys of the pitches the pieces use.
constexpr int C3 = 27, G3 = 34, C4 = 39, D4 = 41, E4 = 43, F4 = 44, Fs4 = 45, G4 = 46, A4 = 48,
              B4 = 50, C5 = 51, D5 = 53, E5 = 55, F5 = 56;

TEST(Ornaments, GraceNotesBeforeTheBeatOrTakingTheirShare) {
    // A 32nd (1/8 quarter) is the short time of an acciaccatura at this tempo: the piece's first
    // one has no room before the beat and takes it from its note; the next takes it from the
    // note before; after a rest it comes out of the gap. Appoggiaturas take their written
    // value, at most half of the main note.
    expectPlayed("graces", {{D4, 0, 0.125},
                            {C4, 0.125, 1},
                            {E4, 1, 1.875},
                            {F4, 1.875, 2},
                            {G4, 2, 3},
                            {A4, 3, 3.5},
                            {B4, 3.5, 4},
                            {C5, 4.75, 4.875},
                            {D5, 4.875, 5},
                            {E5, 5, 7},
                            {G4, 7, 7.5},
                            {C5, 7.5, 8}});
}

TEST(Ornaments, ArticulationShortensOrHoldsTheNote) {
    expectPlayed("articulation", {{C4, 0, 0.5},
                                  {D4, 1, 1.25},
                                  {E4, 2, 2.25},
                                  {F4, 3, 4},
                                  {G4, 4, 4.75},
                                  {A4, 5, 5.75},
                                  {B4, 6, 8}});
}

TEST(Ornaments, FermatasOnNotesAndRestsSlowTheTempoMap) {
    Timeline tl;
    const std::vector<Played> played = perform("fermata", &tl);
    ASSERT_EQ(played.size(), 4u) << show(played);
    // Seconds, from the tempo map: the fermata's note and rest last twice as long.
    std::map<int, std::pair<double, double>> heard;
    for (const TimedNote& n : tl.notes) {
        heard[n.key] = {n.onset, n.release};
    }
    const std::map<int, std::pair<double, double>> expected = {
        {C4, {0.0, 0.5}}, {D4, {0.5, 1.5}}, {E4, {2.5, 3.0}}, {C3, {0.0, 3.0}}};
    ASSERT_EQ(heard.size(), expected.size());
    for (const auto& [key, times] : expected) {
        EXPECT_NEAR(heard[key].first, times.first, 1e-9) << key;
        EXPECT_NEAR(heard[key].second, times.second, 1e-9) << key;
    }
}

TEST(Ornaments, RolledChordsInTheirDirectionNonArpeggiateTogether) {
    // A 64th note (1/16 quarter) between the notes of a roll; a roll over both staves goes
    // from the lowest note of the left hand up.
    const double s = 0.0625;
    expectPlayed("arpeggiate", {{C4, 0, 2},
                                {E4, s, 2},
                                {G4, 2 * s, 2},
                                {A4, 2, 4},
                                {F4, 2 + s, 4},
                                {D4, 2 + 2 * s, 4},
                                {C3, 4, 8},
                                {G3, 4 + s, 8},
                                {C4, 4 + 2 * s, 8},
                                {E4, 4 + 3 * s, 8},
                                {C4, 8, 12},
                                {G4, 8, 12}});
}

TEST(Ornaments, TrillsMordentsAndTurnsPlayedOut) {
    std::vector<Played> expected;
    // Trills in 16ths (near ten notes a second at this tempo) from the main note, ending on it:
    // the key signature's F sharp above E, a natural as its accidental mark says, and over a
    // tied note the whole held length.
    for (int j = 0; j < 7; ++j) {
        expected.push_back({j % 2 == 0 ? E4 : Fs4, 0.25 * j, j == 6 ? 2.0 : 0.25 * (j + 1)});
        expected.push_back({j % 2 == 0 ? E4 : F4, 2 + 0.25 * j, j == 6 ? 4.0 : 2 + 0.25 * (j + 1)});
    }
    for (int j = 0; j < 15; ++j) {
        expected.push_back(
            {j % 2 == 0 ? G4 : A4, 4 + 0.25 * j, j == 14 ? 8.0 : 4 + 0.25 * (j + 1)});
    }
    // Mordents and turns in 32nds on the beat, the last note held.
    const double t = 0.125;
    expected.insert(expected.end(),
                    {{A4, 8, 8 + t},
                     {G4, 8 + t, 8 + 2 * t},
                     {A4, 8 + 2 * t, 9},
                     {B4, 9, 9 + t},
                     {C5, 9 + t, 9 + 2 * t},
                     {B4, 9 + 2 * t, 10},
                     {D5, 10, 10 + t},
                     {C5, 10 + t, 10 + 2 * t},
                     {B4, 10 + 2 * t, 10 + 3 * t},
                     {C5, 10 + 3 * t, 11},
                     {C5, 11, 11 + t},
                     {D5, 11 + t, 11 + 2 * t},
                     {E5, 11 + 2 * t, 11 + 3 * t},
                     {D5, 11 + 3 * t, 12},
                     // The delayed turn: the note held for half its length, then the turn.
                     {G4, 12, 13},
                     {A4, 13, 13 + t},
                     {G4, 13 + t, 13 + 2 * t},
                     {Fs4, 13 + 2 * t, 13 + 3 * t},
                     {G4, 13 + 3 * t, 14}});
    expectPlayed("trills", expected);
}

TEST(Ornaments, TremolosAtTheValueOfTheirSlashes) {
    std::vector<Played> expected;
    for (int j = 0; j < 8; ++j) {
        expected.push_back({C4, 0.25 * j, 0.25 * (j + 1)});  // one note, two slashes
        expected.push_back({j % 2 == 0 ? E4 : G4, 2 + 0.25 * j, 2 + 0.25 * (j + 1)});  // two
    }
    expectPlayed("tremolo", expected);
}

TEST(Ornaments, GlissandosOverTheWhiteKeysSlidesOverEveryKey) {
    expectPlayed("glissando", {{C4, 0, 1},
                               {D4, 1, 1.25},
                               {E4, 1.25, 1.5},
                               {F4, 1.5, 1.75},
                               {G4, 1.75, 2},
                               {A4, 2, 4},
                               {C5, 4, 5},
                               {C5 + 1, 5, 5.25},
                               {D5, 5.25, 5.5},
                               {D5 + 1, 5.5, 5.75},
                               {E5, 5.75, 6},
                               {F5, 6, 8}});
}

// musescore3's export of our piece with a mark of each kind, performed, against the MIDI
// musescore3 plays from the same piece. Where neither plays a mark, and where both play it the
// same way, every note sounds within a millisecond of the other; elsewhere the two readings of
// the marks differ, and the test prints how. As they stand: the turn, the appoggiatura, the
// tremolo and the unmarked notes agree note for note. musescore3's MIDI holds staccato notes
// their full length, plays the acciaccatura on the beat (ours just before it), trills in 32nds
// ending on the upper note (ours in 16ths at this tempo, ending on the main note), rolls a chord
// 65 ms a note (ours 31 ms), slides its glissando over every key from the first note's onset
// (ours over the white keys in its second half), and plays the fermata in time (ours twice as
// long).
TEST(Ornaments, ARealExportAgainstTheNotationProgramsOwnPlayback) {
    const MidiFile midi = readMidiFile(kOrnaments + "ornate.mid");
    ASSERT_TRUE(midi.error.empty()) << midi.error;
    const double perQuarter = 60.0 / midi.quartersPerMinute;
    std::vector<Played> theirs;
    for (const MidiNote& n : midi.notes) {
        theirs.push_back({n.key, n.onset * perQuarter, n.end * perQuarter});
    }
    Timeline tl;
    perform("ornate_export.mxl", &tl);
    std::vector<Played> ours;
    for (const TimedNote& n : tl.notes) {
        ours.push_back({n.key, n.onset, n.release});
    }
    // Spans of the piece in quarter notes (half a second each) and whether the two readings
    // are meant to agree there.
    struct Span {
        const char* mark;
        double from;
        double to;
        bool same;
    };
    const Span spans[] = {{"staccato", 0, 2, false},      {"acciaccatura", 1.75, 3, false},
                          {"plain (tenuto)", 3, 4, true}, {"trill", 4, 6, false},
                          {"plain", 6, 7, true},          {"turn", 7, 8, true},
                          {"rolled chord", 8, 10, false}, {"appoggiatura", 10, 11, true},
                          {"tremolo", 11, 12, true},      {"glissando", 12, 14, false},
                          {"fermata", 14, 16, false}};
    auto within = [](const std::vector<Played>& notes, const Span& s) {
        std::vector<Played> in;
        for (const Played& n : notes) {
            if (n.onset >= s.from * 0.5 - 1e-6 && n.onset < s.to * 0.5 - 1e-6) {
                in.push_back(n);
            }
        }
        std::sort(in.begin(), in.end(), [](const Played& a, const Played& b) {
            return std::tie(a.onset, a.key) < std::tie(b.onset, b.key);
        });
        return in;
    };
    for (const Span& s : spans) {
        const std::vector<Played> a = within(ours, s);
        const std::vector<Played> b = within(theirs, s);
        // A note of one reading agrees when the other plays its key at the same moment (1 ms)
        // and lets it go at the same moment (the notation program releases every note one of
        // its 480 ticks a quarter early: 1.04 ms at 120 a minute).
        size_t agree = 0;
        std::vector<bool> used(b.size(), false);
        for (const Played& n : a) {
            for (size_t k = 0; k < b.size(); ++k) {
                if (!used[k] && b[k].key == n.key && std::fabs(b[k].onset - n.onset) < 0.001 &&
                    std::fabs(b[k].end - n.end) < 0.0013) {
                    used[k] = true;
                    ++agree;
                    break;
                }
            }
        }
        std::printf("%-15s ours %2zu notes, musescore3 %2zu, %2zu the same\n", s.mark, a.size(),
                    b.size(), agree);
        std::fflush(stdout);
        if (s.same) {
            EXPECT_EQ(a.size(), b.size()) << s.mark << "\nours\n"
                                          << show(a) << "theirs\n"
                                          << show(b);
            EXPECT_EQ(agree, b.size()) << s.mark << "\nours\n" << show(a) << "theirs\n" << show(b);
        } else {
            std::printf("  ours\n%s  musescore3\n%s", show(a).c_str(), show(b).c_str());
        }
    }
    // The left hand plays no mark before the fermata's measure: every one of its notes agrees.
    size_t bass = 0;
    for (const Played& n : theirs) {
        if (n.key < C4 && n.onset < 7.0 - 1e-6) {
            ++bass;
            EXPECT_TRUE(std::any_of(ours.begin(), ours.end(),
                                    [&](const Played& o) {
                                        return o.key == n.key &&
                                               std::fabs(o.onset - n.onset) < 0.001 &&
                                               std::fabs(o.end - n.end) < 0.0013;
                                    }))
                << "left hand key " << n.key << " at " << n.onset;
        }
    }
    EXPECT_EQ(bass, 14u);
}

// Random pieces with marks of every kind in any combination (on chords, on short notes, at the
// start and the end, graces before rests, glissandos without an end, odd slash counts): the
// preparation always succeeds, the reader takes what it writes, and the performance keeps
// every invariant, its fingertips on every key it plays.
TEST(Ornaments, AnyCombinationOfMarksIsPlayedAndFingered) {
    static const char* const kMarks[] = {
        "<articulations><staccato/></articulations>",
        "<articulations><staccatissimo/></articulations>",
        "<articulations><tenuto/><staccato/></articulations>",
        "<fermata/>",
        "<arpeggiate/>",
        "<arpeggiate direction=\"down\" number=\"2\"/>",
        "<ornaments><trill-mark/><accidental-mark>flat</accidental-mark></ornaments>",
        "<ornaments><wavy-line type=\"start\"/></ornaments>",
        "<ornaments><mordent/></ornaments>",
        "<ornaments><inverted-mordent/></ornaments>",
        "<ornaments><turn/><accidental-mark placement=\"below\">sharp</accidental-mark>"
        "</ornaments>",
        "<ornaments><inverted-turn/></ornaments>",
        "<ornaments><delayed-turn/></ornaments>",
        "<ornaments><tremolo type=\"single\">9</tremolo></ornaments>",
        "<ornaments><tremolo type=\"start\">1</tremolo></ornaments>",
        "<ornaments><tremolo type=\"stop\">1</tremolo></ornaments>",
        "<glissando type=\"start\"/>",
        "<glissando type=\"stop\"/>",
        "<slide type=\"start\">chromatic</slide>",
        "<slide type=\"stop\"/>"};
    static const char* const kSteps[] = {"C", "D", "E", "F", "G", "A", "B"};
    std::mt19937 rng(19);
    for (int piece = 0; piece < 40; ++piece) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        std::string xml =
            "<?xml version=\"1.0\"?><score-partwise version=\"3.1\"><part-list><score-part "
            "id=\"P1\"><part-name>Piano</part-name></score-part></part-list><part id=\"P1\">";
        const int divisions = 1 + static_cast<int>(rng() % 12);
        for (int m = 1; m <= 4; ++m) {
            xml += "<measure number=\"" + std::to_string(m) + "\">";
            if (m == 1) {
                xml += "<attributes><divisions>" + std::to_string(divisions) +
                       "</divisions><key><fifths>" +
                       std::to_string(static_cast<int>(rng() % 15) - 7) +
                       "</fifths></key><staves>2</staves><clef number=\"1\"><sign>G</sign>"
                       "</clef><clef number=\"2\"><sign>F</sign></clef></attributes>"
                       "<sound tempo=\"" +
                       std::to_string(40 + rng() % 160) + "\"/>";
            }
            for (int staff = 1; staff <= 2; ++staff) {
                if (staff == 2) {
                    xml += "<backup><duration>" + std::to_string(4 * divisions) +
                           "</duration></backup>";
                }
                int left = 4 * divisions;
                while (left > 0) {
                    const int length =
                        std::min(left, 1 + static_cast<int>(rng() % (2 * divisions)));
                    left -= length;
                    const int graces = rng() % 4 == 0 ? 1 + static_cast<int>(rng() % 3) : 0;
                    for (int g = 0; g < graces; ++g) {
                        xml += std::string("<note><grace") + (rng() % 2 ? " slash=\"yes\"" : "") +
                               "/>" + (g > 0 && rng() % 3 == 0 ? "<chord/>" : "") +
                               "<pitch><step>" + kSteps[rng() % 7] + "</step><octave>" +
                               std::to_string(staff == 1 ? 4 + rng() % 2 : 2 + rng() % 2) +
                               "</octave></pitch><type>16th</type><staff>" + std::to_string(staff) +
                               "</staff></note>";
                    }
                    const int chord = rng() % 5 == 0 ? 0 : 1 + static_cast<int>(rng() % 3);
                    if (chord == 0) {
                        xml += "<note><rest/><duration>" + std::to_string(length) +
                               "</duration><staff>" + std::to_string(staff) + "</staff>" +
                               (rng() % 6 == 0 ? "<notations><fermata/></notations>" : "") +
                               "</note>";
                        continue;
                    }
                    for (int c = 0; c < chord; ++c) {
                        xml += std::string("<note>") + (c > 0 ? "<chord/>" : "") + "<pitch><step>" +
                               kSteps[rng() % 7] + "</step><octave>" +
                               std::to_string(staff == 1 ? 4 + rng() % 2 : 2 + rng() % 2) +
                               "</octave></pitch><duration>" + std::to_string(length) +
                               "</duration><voice>" + std::to_string(staff) + "</voice><staff>" +
                               std::to_string(staff) + "</staff>";
                        if (rng() % 2 == 0) {
                            xml += std::string("<notations>") + kMarks[rng() % 20] +
                                   (rng() % 3 == 0 ? kMarks[rng() % 20] : "") + "</notations>";
                        }
                        xml += "</note>";
                    }
                }
            }
            xml += "</measure>";
        }
        xml += "</part></score-partwise>";
        PrepareOptions options;
        options.ornaments = true;
        PrepareResult prepared;
        ASSERT_TRUE(prepareScoreText(xml, options, &prepared)) << prepared.error << "\n" << xml;
        for (const PreparedNote& n : prepared.notes) {
            ASSERT_GT(n.length, 0);
            ASSERT_GE(n.key, 0);
            ASSERT_LT(n.key, 88);
        }
        setStartValues();
        rightNotes.clear();
        leftNotes.clear();
        ASSERT_EQ(loadScoreFromBuffer(prepared.xml.data(), prepared.xml.size(), nullptr), 0) << xml;
        createKeyStates();
        planHandsOptimal({});
        ScoreTiming timing;
        std::string error;
        ASSERT_TRUE(readScoreTiming(prepared.xml.data(), prepared.xml.size(), &timing, &error));
        expectInvariants(buildTimeline(timing, TimelineOptions{}), 400);
        if (HasFatalFailure()) {
            ADD_FAILURE() << xml;
            return;
        }
    }
}

}  // namespace
