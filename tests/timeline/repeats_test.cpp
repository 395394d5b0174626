// Repeats as a pianist plays them. Our own pieces with repeat barlines, endings, D.C. al Fine and
// D.S. al Coda (tools/repeat_material.py) are prepared and performed; every note must sound at
// the moment musescore3's own MIDI export of the piece plays it (within a millisecond on the
// tempo map). The order of play is also checked on marks written out by hand, and measures are
// found by the pass they are played on.

#include "prepare/repeats.h"

#include <map>

#include "prepare/prepare.h"
#include "support/midi_notes.h"
#include "timeline_support.h"

using namespace timeline_test;

namespace {

const std::string kRepeats = QUORVEL_SOURCE_DIR "/tests/data/repeats/";

struct Heard {
    int key;
    double onset;  // seconds
    double end;
    bool operator<(const Heard& o) const {
        return onset != o.onset ? onset < o.onset : key < o.key;
    }
};

// The prepared piece (our own file, or musescore3's export of it), loaded, planned and
// performed.
Timeline perform(const std::string& name, bool repeats, ScoreTiming* timing,
                 const std::string& file = "") {
    PrepareOptions options;
    options.repeats = repeats;
    PrepareResult prepared;
    EXPECT_TRUE(
        prepareScore(kRepeats + (file.empty() ? name + ".musicxml" : file), options, &prepared))
        << prepared.error;
    const bool reported =
        std::find(prepared.changes.begin(), prepared.changes.end(),
                  "repeats: " +
                      std::to_string(name == "voltas"       ? 10
                                     : name == "dc_al_fine" ? 4
                                                            : 6) +
                      " measures written, " +
                      std::to_string(name == "voltas"       ? 21
                                     : name == "dc_al_fine" ? 8
                                                            : 8) +
                      " played in performance order (--no-repeats plays each once)") !=
        prepared.changes.end();
    EXPECT_EQ(reported, repeats) << name;
    EXPECT_TRUE(loadAndPlan(prepared.xml));
    std::string error;
    EXPECT_TRUE(readScoreTiming(prepared.xml.data(), prepared.xml.size(), timing, &error)) << error;
    return buildTimeline(*timing, TimelineOptions{});
}

TEST(Repeats, EveryNoteWhereTheNotationProgramsOwnPlaybackPlaysIt) {
    // Our own files, and musescore3's export of each (written its own way), against the MIDI
    // musescore3 plays from our file.
    const std::pair<std::string, std::string> pieces[] = {
        {"voltas", "voltas.musicxml"},           {"dc_al_fine", "dc_al_fine.musicxml"},
        {"ds_al_coda", "ds_al_coda.musicxml"},   {"voltas", "voltas_export.mxl"},
        {"dc_al_fine", "dc_al_fine_export.mxl"}, {"ds_al_coda", "ds_al_coda_export.mxl"}};
    for (const auto& [name, file] : pieces) {
        SCOPED_TRACE(file);
        const MidiFile midi = readMidiFile(kRepeats + name + ".mid");
        ASSERT_TRUE(midi.error.empty()) << midi.error;
        std::vector<Heard> expected;
        for (const MidiNote& n : midi.notes) {
            const double secondsPerQuarter = 60.0 / midi.quartersPerMinute;
            expected.push_back({n.key, n.onset * secondsPerQuarter, n.end * secondsPerQuarter});
        }
        std::sort(expected.begin(), expected.end());
        ScoreTiming timing;
        const Timeline tl = perform(name, true, &timing, file);
        expectInvariants(tl);
        std::vector<Heard> heard;
        for (const TimedNote& n : tl.notes) {
            heard.push_back({n.key, n.onset, n.release});
        }
        std::sort(heard.begin(), heard.end());
        ASSERT_EQ(heard.size(), expected.size());
        for (size_t i = 0; i < heard.size(); ++i) {
            EXPECT_EQ(heard[i].key, expected[i].key) << i;
            EXPECT_NEAR(heard[i].onset, expected[i].onset, 0.001) << i;
            // The notation program lets every note go one of its 480 ticks a quarter early
            // (1.25 ms at 100 quarters a minute).
            EXPECT_NEAR(heard[i].end, expected[i].end, 0.0013) << i;
        }
    }
}

TEST(Repeats, WithoutRepeatsEveryMeasureOnceAndPassesFindTheirMeasure) {
    ScoreTiming timing;
    Timeline once = perform("voltas", false, &timing);
    ASSERT_EQ(timing.measures.size(), 10u);
    EXPECT_EQ(once.notes.size(), 10u * 6u);

    const Timeline played = perform("voltas", true, &timing);
    // 1 2 3 1 2 4 | 5 6 5 6 5 6 | 7 8 9 7 8 9 7 8 10, four quarters a measure.
    std::vector<std::string> numbers;
    for (const MeasureStart& m : timing.measures) {
        numbers.push_back(m.number);
    }
    EXPECT_EQ(numbers,
              (std::vector<std::string>{"1", "2", "3", "1", "2", "4", "5", "6", "5", "6", "5",
                                        "6", "7", "8", "9", "7", "8", "9", "7", "8", "10"}));
    const int32_t bar = 4 * timing.divisions;
    EXPECT_EQ(measureTick(timing, "1"), 0);
    EXPECT_EQ(measureTick(timing, "m1"), 0);
    EXPECT_EQ(measureTick(timing, "m1:2"), 3 * bar);
    EXPECT_EQ(measureTick(timing, "m6:3"), 11 * bar);
    EXPECT_EQ(measureEndTick(timing, "m6:3"), 12 * bar);
    EXPECT_EQ(measureTick(timing, "m4"), 5 * bar);
    EXPECT_EQ(measureTick(timing, "m4:2"), -1);
    EXPECT_EQ(measureTick(timing, "m1:0"), -1);
    EXPECT_EQ(measureTick(timing, "m11"), -1);
    EXPECT_EQ(played.notes.size(), 21u * 6u);
}

std::vector<size_t> orderOf(const std::vector<RepeatMarks>& marks) {
    std::vector<size_t> order = playOrder(marks);
    for (size_t& m : order) {
        ++m;  // as printed
    }
    return order;
}

TEST(Repeats, OrderOfPlayAsAPianistReadsTheMarks) {
    using Order = std::vector<size_t>;
    RepeatMarks plain;
    RepeatMarks forward;
    forward.forward = true;
    RepeatMarks backward;
    backward.backward = 2;
    auto ending = [](std::vector<int> passes, int back = 0) {
        RepeatMarks m;
        m.ending = std::move(passes);
        m.backward = back;
        return m;
    };
    // No marks: as written.
    EXPECT_EQ(orderOf({plain, plain, plain}), (Order{1, 2, 3}));
    // A backward repeat with no forward one goes back to the start, then to the measure after
    // the last repeat played.
    EXPECT_EQ(orderOf({plain, backward, plain, backward}), (Order{1, 2, 1, 2, 3, 4, 3, 4}));
    // An ending for passes 1 and 2 without `times`: its numbers ask for three passes.
    EXPECT_EQ(orderOf({forward, ending({1, 2}, 2), ending({3})}), (Order{1, 2, 1, 2, 1, 3}));
    // Two-measure first ending.
    EXPECT_EQ(orderOf({plain, ending({1}), ending({1}, 2), ending({2}), plain}),
              (Order{1, 2, 3, 1, 4, 5}));
    // D.C. al Fine after a repeat with endings: the repeat once, with its last ending.
    RepeatMarks fine;
    fine.fine = true;
    RepeatMarks dc;
    dc.daCapo = true;
    EXPECT_EQ(orderOf({forward, ending({1}, 2), ending({2}), fine, plain, dc}),
              (Order{1, 2, 1, 3, 4, 5, 6, 1, 3, 4}));
    // D.S. al Coda; a D.S. without any segno goes back to the start.
    RepeatMarks segno;
    segno.segno = true;
    RepeatMarks toCoda;
    toCoda.toCoda = true;
    RepeatMarks ds;
    ds.dalSegno = true;
    RepeatMarks coda;
    coda.coda = true;
    EXPECT_EQ(orderOf({plain, segno, toCoda, ds, coda}), (Order{1, 2, 3, 4, 2, 3, 5}));
    EXPECT_EQ(orderOf({plain, ds, plain}), (Order{1, 2, 1, 2, 3}));
    // `times` as written; a D.C. on a repeated measure is taken after its last pass.
    RepeatMarks many;
    many.backward = 16;
    many.timesWritten = true;
    EXPECT_EQ(playOrder({many}).size(), 16u);
    RepeatMarks both = dc;
    both.backward = 2;
    EXPECT_EQ(orderOf({both}), (Order{1, 1, 1}));
}

TEST(Repeats, MarksAreReadFromBarlinesSoundsAndWords) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(
        "<part>"
        "<measure><barline><repeat direction=\"forward\"/></barline>"
        "<direction><direction-type><segno/></direction-type></direction></measure>"
        "<measure><barline><ending number=\"1, 2\" type=\"start\"/></barline>"
        "<barline><ending number=\"1, 2\" type=\"stop\"/><repeat direction=\"backward\" "
        "times=\"3\"/></barline></measure>"
        "<measure><barline><ending number=\"3\" type=\"start\"/></barline>"
        "<direction><direction-type><words>Fine</words></direction-type></direction></measure>"
        "<measure><barline><ending number=\"3\" type=\"discontinue\"/></barline>"
        "<direction><direction-type><words> D.S. al Fine </words></direction-type></direction>"
        "</measure>"
        "<measure><direction><direction-type><coda/><words>To Coda</words></direction-type>"
        "</direction><sound dacapo=\"yes\"/></measure>"
        "<measure><direction><direction-type><coda/></direction-type></direction></measure>"
        "</part>"));
    std::vector<pugi::xml_node> measures;
    for (pugi::xml_node m : doc.child("part").children("measure")) {
        measures.push_back(m);
    }
    const std::vector<RepeatMarks> marks = readRepeatMarks(measures);
    ASSERT_EQ(marks.size(), 6u);
    EXPECT_TRUE(marks[0].forward && marks[0].segno);
    EXPECT_EQ(marks[1].ending, (std::vector<int>{1, 2}));
    EXPECT_EQ(marks[1].backward, 3);
    EXPECT_TRUE(marks[1].timesWritten);
    EXPECT_EQ(marks[2].ending, (std::vector<int>{3}));
    EXPECT_TRUE(marks[2].fine);
    EXPECT_EQ(marks[3].ending, (std::vector<int>{3}));
    EXPECT_TRUE(marks[3].dalSegno);
    EXPECT_TRUE(marks[4].ending.empty());
    EXPECT_TRUE(marks[4].toCoda && marks[4].daCapo && !marks[4].coda);
    EXPECT_TRUE(marks[5].coda);
}

}  // namespace
