// The real-time mode's logic with a clock the test drives: frames at 60 a second of simulated
// wall time, the sound replaced by a recorder. No window and no waiting.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/platform.h"
#include "app/realtime.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "support/classic_load.h"
#include "window/window_fixture.h"

namespace {

struct Sent {
    int32_t key;
    bool on;
    double wall;
};
std::vector<Sent> sent;
int silenced = 0;
int exitedWith = -1;

void recordSchedule(int32_t key, bool on, double wall) {
    sent.push_back({key, on, wall});
}
void recordSilence() {
    ++silenced;
}
void recordExit(int status) {
    exitedWith = status;
}

// Three measures at 90 quarter notes a minute, 150 from the second: quarters in the right hand
// (C D E F, G A B C, C B A G) over a half-note bass, divisions 2.
std::string threeMeasures() {
    const char* right[3][4] = {{"C", "D", "E", "F"}, {"G", "A", "B", "C"}, {"C", "B", "A", "G"}};
    std::string xml =
        "<?xml version=\"1.0\"?><score-partwise version=\"3.1\"><part-list><score-part "
        "id=\"P1\"><part-name>Piano</part-name><score-instrument id=\"P1-I1\"><instrument-name>"
        "Piano</instrument-name></score-instrument></score-part></part-list><part id=\"P1\">";
    for (int m = 0; m < 3; ++m) {
        xml += "<measure number=\"" + std::to_string(m + 1) + "\">";
        if (m == 0) {
            xml +=
                "<attributes><divisions>2</divisions><staves>2</staves><clef number=\"1\">"
                "<sign>G</sign></clef><clef number=\"2\"><sign>F</sign></clef></attributes>";
        }
        if (m < 2) {
            xml += "<direction><direction-type><words/></direction-type><sound tempo=\"" +
                   std::string(m == 0 ? "90" : "150") + "\"/></direction>";
        }
        for (int b = 0; b < 4; ++b) {
            xml += "<note><pitch><step>" + std::string(right[m][b]) + "</step><octave>" +
                   (m == 1 && b == 3 ? "5" : "4") +
                   "</octave></pitch><duration>2</duration><staff>1</staff></note>";
        }
        xml += "<backup><duration>8</duration></backup>";
        for (int b = 0; b < 2; ++b) {
            xml += "<note><pitch><step>" + std::string(b == 0 ? "C" : "G") +
                   "</step><octave>3</octave></pitch><duration>4</duration><staff>2</staff></note>";
        }
        xml += "</measure>";
    }
    return xml + "</part></score-partwise>";
}

class RealtimeLogic : public testing::Test {
protected:
    void SetUp() override {
        document = threeMeasures();
        ASSERT_EQ(loadAndPlanClassic(document), 0);
        savedSound = realtimeSound;
        realtimeSound = {recordSchedule, recordSilence};
        sent.clear();
        silenced = 0;
    }

    void TearDown() override {
        realtimeSound = savedSound;
        saved.restore();
    }

    // Frames every 1/60 s of wall time from `from` until the performance stops or `until`.
    void playFrames(double from, double until) {
        for (double wall = from; wall <= until; wall += 1.0 / 60) {
            if (!realtimeFrame(wall, wall)) {
                return;
            }
        }
    }

    window_test::SavedProgram saved;  // taken before SetUp changes anything
    RealtimeSound savedSound{};
    std::string document;
    ProgramOptions options;
};

}  // namespace

// Every event of the timeline reaches the sound exactly once, in order, ahead of its time and
// stamped with the wall time the clock gives it; the keys shown match the performance at each
// frame; the performance stops by itself at its end.
TEST_F(RealtimeLogic, EveryNoteIsScheduledOnceAheadAtItsWallTime) {
    std::string error;
    ASSERT_TRUE(prepareRealtime(options, document, &error)) << error;
    const Timeline& timeline = realtime.timeline;
    ASSERT_EQ(timeline.notes.size(), 18u);
    const double start = 1000.0;
    realtimePlay(start);
    std::vector<double> scheduledAt;  // wall time of the frame that sent each event
    for (double wall = start; realtime.playing; wall += 1.0 / 60) {
        size_t before = sent.size();
        realtimeFrame(wall, wall);
        scheduledAt.insert(scheduledAt.end(), sent.size() - before, wall);
        PerformanceFrame frame;
        performanceAt(timeline, wall - start, &frame);
        for (int key = 0; key < 88; ++key) {
            ASSERT_EQ(keyStates[key].angle, frame.keyAngle[key]) << "key " << key;
        }
        ASSERT_LT(wall, start + timeline.duration + 0.1) << "the performance did not stop";
    }
    ASSERT_EQ(sent.size(), timeline.events.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        const PerformanceEvent& event = timeline.events[i];
        EXPECT_EQ(sent[i].key, event.key);
        EXPECT_EQ(sent[i].on, event.on);
        EXPECT_NEAR(sent[i].wall, start + event.seconds, 1e-9);
        EXPECT_LE(scheduledAt[i], sent[i].wall + 1e-9) << "event " << i << " sent late";
    }
    // The first note comes after the lead-in, at the tempo map's time of tick 0.
    EXPECT_NEAR(sent.front().wall, start + kRealtimeLeadIn, 1e-9);
    EXPECT_EQ(silenced, 1);  // by the play command, before anything sounded
}

// "+" makes the rest 10 % faster without a jump; "o" silences, stops and shows the start again.
TEST_F(RealtimeLogic, FasterStopAndQuit) {
    std::string error;
    ASSERT_TRUE(prepareRealtime(options, document, &error)) << error;
    const Timeline& timeline = realtime.timeline;
    const double start = 50.0;
    EXPECT_TRUE(realtimeKey('p', start));
    playFrames(start, start + 1.0);
    const double change = start + 1.0;
    size_t before = sent.size();
    EXPECT_TRUE(realtimeKey('+', change));
    playFrames(change, change + 100.0);
    ASSERT_EQ(sent.size(), timeline.events.size());
    // Events sent after the change are stamped at the faster rate (earlier ones keep the old).
    for (size_t i = before; i < sent.size(); ++i) {
        double expected = change + (timeline.events[i].seconds - 1.0) / 1.1;
        EXPECT_NEAR(sent[i].wall, expected, 1e-9) << "event " << i;
    }
    EXPECT_FALSE(realtime.playing);

    silenced = 0;
    EXPECT_TRUE(realtimeKey('p', 500.0));
    playFrames(500.0, 502.0);
    EXPECT_TRUE(realtimeKey('o', 502.0));
    EXPECT_EQ(silenced, 2);  // the play and the stop
    EXPECT_FALSE(realtime.playing);
    for (int key = 0; key < 88; ++key) {
        EXPECT_EQ(keyStates[key].angle, 0.0f);  // the start: the lead-in, nothing down
    }
    size_t afterStop = sent.size();
    EXPECT_FALSE(realtimeFrame(503.0, 503.0));
    EXPECT_EQ(sent.size(), afterStop);  // a stopped window sends nothing

    void (*savedExit)(int) = platform.exitProcess;
    platform.exitProcess = recordExit;
    exitedWith = -1;
    EXPECT_FALSE(realtimeKey('q', 504.0));
    EXPECT_EQ(exitedWith, 0);
    platform.exitProcess = savedExit;
}

// --from and --to choose whole measures; --speed stretches the tempo map; names of measures the
// score lacks and speeds out of range are refused in one line.
TEST_F(RealtimeLogic, MeasureRangeAndSpeed) {
    std::string error;
    options.fromMeasure = "2";
    options.toMeasure = "2";
    options.speed = 2.0;
    ASSERT_TRUE(prepareRealtime(options, document, &error)) << error;
    const Timeline& timeline = realtime.timeline;
    ASSERT_EQ(timeline.notes.size(), 6u);  // measure 2: four quarters and two half notes
    for (const TimedNote& note : timeline.notes) {
        EXPECT_GE(note.tick, 8);
        EXPECT_LT(note.tick, 16);
        // 150 quarter notes a minute at double speed: a quarter (two ticks) every 0.2 s.
        EXPECT_NEAR(note.onset, kRealtimeLeadIn + (note.tick - 8) * 0.1, 1e-9);
    }

    options.toMeasure = "7";
    EXPECT_FALSE(prepareRealtime(options, document, &error));
    EXPECT_EQ(error, "the score has no measure \"7\"");
    options.fromMeasure = "3";
    options.toMeasure = "1";
    EXPECT_FALSE(prepareRealtime(options, document, &error));
    EXPECT_EQ(error, "measure \"1\" ends before measure \"3\" starts");
    options = ProgramOptions();
    options.speed = 5.0;
    EXPECT_FALSE(prepareRealtime(options, document, &error));
    EXPECT_EQ(error.find('\n'), std::string::npos);
    options.speed = 1.0;
    EXPECT_FALSE(prepareRealtime(options, "not xml <", &error));
    EXPECT_EQ(error.rfind("cannot read the score's tempo: ", 0), 0u) << error;
}
