// The real-time mode's practice: a prepared score of our own with dynamics and pedal, started
// as the program starts it, played with a clock the test drives and the sound replaced by a
// recorder of every event: velocities and the pedal reach the sound, --hand keeps the other
// hand silent, --metronome counts in, and --loop plays the range again and again.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/realtime.h"
#include "app/session.h"
#include "window/window_fixture.h"

namespace {
std::vector<PerformanceEvent> heard;
void ignoreSchedule(int32_t, bool, double) {}
void ignoreSilence() {}
void recordEvent(const PerformanceEvent& event, double) {
    heard.push_back(event);
}

class RealtimePractice : public testing::Test {
protected:
    void SetUp() override {
        savedSound = realtimeSound;
        realtimeSound = {ignoreSchedule, ignoreSilence, recordEvent};
        heard.clear();
        options.mode = RunMode::Realtime;
        options.longOptions = true;
        options.prepare = true;
        options.score = QUORVEL_SOURCE_DIR "/tests/data/performance/dynamics_marks.xml";
    }
    void TearDown() override {
        realtimeSound = savedSound;
        saved.restore();
    }
    // Starts the session and plays frames every 1/60 s for `seconds` of wall time.
    void play(double seconds) {
        ASSERT_EQ(startUpSession(options), 0);
        std::string error;
        ASSERT_TRUE(prepareRealtime(options, sessionDocument, &error)) << error;
        realtimePlay(0.0);
        for (double wall = 0.0; wall <= seconds; wall += 1.0 / 60) {
            realtimeFrame(wall, wall);
        }
    }
    size_t count(EventKind kind, bool on) const {
        size_t n = 0;
        for (const PerformanceEvent& e : heard) {
            n += e.kind == kind && e.on == on ? 1 : 0;
        }
        return n;
    }

    window_test::SavedProgram saved;
    RealtimeSound savedSound{};
    ProgramOptions options;
};
}  // namespace

TEST_F(RealtimePractice, VelocitiesPedalOneHandMetronomeAndLoop) {
    play(30.0);
    ASSERT_FALSE(realtime.playing) << "played once, it stops at its end";
    const size_t notes = realtime.timeline.notes.size();
    EXPECT_EQ(count(EventKind::Note, true), notes);
    std::vector<int> velocities;
    for (const PerformanceEvent& e : heard) {
        if (e.kind == EventKind::Note && e.on) {
            velocities.push_back(e.velocity);
        }
    }
    EXPECT_NE(std::find(velocities.begin(), velocities.end(), 125), velocities.end());
    EXPECT_NE(std::find(velocities.begin(), velocities.end(), 35), velocities.end());
    EXPECT_EQ(count(EventKind::Pedal, true), 3u);
    EXPECT_EQ(count(EventKind::Pedal, false), 3u);
    EXPECT_EQ(count(EventKind::Click, true), 0u);

    // --hand left with the metronome: only the left hand sounds, after a bar counted in.
    heard.clear();
    options.hand = 1;
    options.metronome = true;
    play(30.0);
    size_t left = 0;
    for (const PerformanceEvent& e : heard) {
        left += e.kind == EventKind::Note && e.hand == 1 ? 1 : 0;
    }
    EXPECT_EQ(left, 2 * count(EventKind::Note, true));
    EXPECT_EQ(count(EventKind::Click, true), 4u + 16u);  // a bar counted in, sixteen beats
    EXPECT_EQ(heard.front().kind, EventKind::Click);     // the count-in comes first

    // Measures 2 to 3 looped: still playing after many times its length, each pass the same.
    heard.clear();
    options.hand = -1;
    options.metronome = false;
    options.loop = true;
    options.fromMeasure = "2";
    options.toMeasure = "3";
    play(40.0);
    EXPECT_TRUE(realtime.playing);
    const double length = realtime.timeline.duration;
    const size_t passes = count(EventKind::Note, true) / realtime.timeline.notes.size();
    EXPECT_GE(passes, static_cast<size_t>(40.0 / length) - 1);
    EXPECT_GE(passes, 3u);
}
