// A note longer than one duration of the strict form can say: the prepared document writes it
// as tied pieces, the grids strike each piece, and the performance holds one note as written.

#include "prepare/prepare.h"
#include "timeline_support.h"

using namespace timeline_test;

namespace {

// C4 held over three 4/4 measures at 480 divisions a quarter (5760 ticks, more than 4999 the
// reader takes in one duration), beside one-division notes of C3 that keep the fine unit.
std::string longNoteScore() {
    std::string measures;
    for (int m = 1; m <= 3; ++m) {
        measures += "<measure number=\"" + std::to_string(m) + "\">";
        if (m == 1) {
            measures +=
                "<attributes><divisions>480</divisions><staves>2</staves><clef number=\"1\">"
                "<sign>G</sign><line>2</line></clef><clef number=\"2\"><sign>F</sign><line>4"
                "</line></clef></attributes>";
        }
        measures +=
            "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1920"
            "</duration>";
        measures += m > 1 ? "<tie type=\"stop\"/>" : "";
        measures += m < 3 ? "<tie type=\"start\"/>" : "";
        measures +=
            "<staff>1</staff></note><backup><duration>1920</duration></backup>"
            "<note><pitch><step>C</step><octave>3</octave></pitch><duration>1</duration>"
            "<staff>2</staff></note><forward><duration>1919</duration></forward>"
            "</measure>";
    }
    return "<?xml version=\"1.0\"?><score-partwise version=\"3.1\"><part-list><score-part "
           "id=\"P1\"><part-name>Piano</part-name></score-part></part-list><part id=\"P1\">" +
           measures + "</part></score-partwise>";
}

TEST(HeldNotes, ANoteLongerThanTheStrictFormTakesIsHeldAsOneNote) {
    PrepareResult prepared;
    ASSERT_TRUE(prepareScoreText(longNoteScore(), PrepareOptions{}, &prepared)) << prepared.error;
    ASSERT_TRUE(loadAndPlan(prepared.xml));
    ScoreTiming timing;
    std::string error;
    ASSERT_TRUE(readScoreTiming(prepared.xml.data(), prepared.xml.size(), &timing, &error))
        << error;
    ASSERT_EQ(timing.divisions, 480);
    const int32_t c4 = 39;
    const int32_t c3 = 27;
    // The grids strike the key again where the pieces meet; the document says it is tied on.
    int gridStrokes = 0;
    for (size_t t = 0; t < rightNotes.size(); ++t) {
        for (const NoteSlot& s : rightNotes[t].slot) {
            gridStrokes +=
                s.key == c4 &&
                (t == 0 ||
                 std::none_of(std::begin(rightNotes[t - 1].slot), std::end(rightNotes[t - 1].slot),
                              [&](const NoteSlot& p) { return p.key == c4 && p.lastTick == 0; }));
        }
    }
    EXPECT_EQ(gridStrokes, 2);
    ASSERT_EQ(timing.tiedOn.size(), 1u);
    EXPECT_EQ(timing.tiedOn[0].key, c4);
    EXPECT_EQ(timing.tiedOn[0].tick, 4999);

    for (int32_t from : {0, 100}) {
        TimelineOptions options;
        options.fromTick = from;
        options.leadIn = 0.5;
        const Timeline tl = buildTimeline(timing, options);
        expectInvariants(tl);
        std::vector<const TimedNote*> held;
        int lows = 0;
        for (const TimedNote& n : tl.notes) {
            if (n.key == c4) {
                held.push_back(&n);
            }
            lows += n.key == c3;
        }
        ASSERT_EQ(held.size(), 1u) << "from " << from;
        EXPECT_EQ(held[0]->tick, from);
        EXPECT_EQ(held[0]->endTick, 5760);
        // 120 quarters a minute: twelve quarters are six seconds.
        EXPECT_NEAR(held[0]->release - held[0]->onset, 6.0 * (5760 - from) / 5760, 1e-9);
        EXPECT_EQ(lows, from == 0 ? 3 : 2);
        int strokes = 0;
        for (const PerformanceEvent& e : tl.events) {
            strokes += e.on && e.key == c4;
        }
        EXPECT_EQ(strokes, 1);
        // The key stays down across the seam.
        PerformanceFrame frame;
        performanceAt(tl, timeOfTick(tl, 4999.0), &frame);
        EXPECT_GT(frame.keyAngle[c4], 9.0f);
    }
    // A range that starts at the seam starts the note there.
    TimelineOptions seam;
    seam.fromTick = 4999;
    const Timeline tl = buildTimeline(timing, seam);
    ASSERT_FALSE(tl.notes.empty());
    EXPECT_EQ(tl.notes.front().key, c4);
    EXPECT_EQ(tl.notes.front().tick, 4999);
    EXPECT_EQ(tl.notes.front().endTick, 5760);
}

}  // namespace
