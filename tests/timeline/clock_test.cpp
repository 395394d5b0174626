#include "timeline_support.h"

using namespace timeline_test;

TEST(PerformanceClock, FollowsWallTimeThroughSpeedChangesPausesAndRewinds) {
    PerformanceClock clock = makeClock(0.0, 10.0);
    EXPECT_EQ(clockTime(clock, 100.0), 0.0);  // stopped until played
    clockPlay(&clock, 100.0);
    EXPECT_DOUBLE_EQ(clockTime(clock, 101.5), 1.5);
    // Faster by a tenth from 2 s on: no jump at the change, then 1.1 s a second.
    clockFaster(&clock, 102.0);
    EXPECT_DOUBLE_EQ(clockTime(clock, 102.0), 2.0);
    EXPECT_DOUBLE_EQ(clockTime(clock, 104.0), 2.0 + 2.0 * 1.1);
    clockSlower(&clock, 104.0);
    EXPECT_NEAR(clock.rate, 1.0, 1e-12);
    EXPECT_NEAR(clockTime(clock, 105.0), 5.2, 1e-12);
    clockPause(&clock, 105.0);
    EXPECT_NEAR(clockTime(clock, 500.0), 5.2, 1e-12);
    clockPlay(&clock, 500.0);
    EXPECT_NEAR(clockTime(clock, 501.0), 6.2, 1e-12);
    // The end holds, and playing again starts over.
    EXPECT_FALSE(clockFinished(clock, 504.0));
    EXPECT_EQ(clockTime(clock, 600.0), 10.0);
    EXPECT_TRUE(clockFinished(clock, 600.0));
    clockPlay(&clock, 600.0);
    EXPECT_DOUBLE_EQ(clockTime(clock, 601.0), 1.0);
    clockSeek(&clock, 601.0, 7.5);
    EXPECT_DOUBLE_EQ(clockTime(clock, 602.0), 8.5);
    clockRewind(&clock, 603.0);
    EXPECT_EQ(clockTime(clock, 700.0), 0.0);
    EXPECT_FALSE(clock.running);
    // The rate stays within its limits however often it is changed.
    for (int i = 0; i < 100; ++i) {
        clockFaster(&clock, 700.0);
    }
    EXPECT_EQ(clock.rate, kMaxClockRate);
    for (int i = 0; i < 100; ++i) {
        clockSlower(&clock, 700.0);
    }
    EXPECT_EQ(clock.rate, kMinClockRate);
}

TEST(EventCursor, DeliversEveryEventOnceInOrderWhateverTheSteps) {
    // Repeated notes on one key: each note-off comes before the next note-on at the same time.
    setStartValues();
    rightNotes.assign(6, kEmptyEvent);
    leftNotes.assign(6, kEmptyEvent);
    for (int32_t t = 0; t < 6; ++t) {
        rightNotes[t].slot[0] = NoteSlot{40, t % 2};  // three notes of two ticks on key 40
        leftNotes[t].slot[0] = NoteSlot{20, 1};       // six notes of one tick on key 20
    }
    divisions = 2;
    scanLength = 8;
    createKeyStates();
    planRightHand();
    planLeftHand();
    ScoreTiming timing;
    timing.divisions = 2;
    timing.tempo = {{0, 60.0}};
    const Timeline tl = buildTimeline(timing, TimelineOptions{});
    ASSERT_EQ(tl.notes.size(), 9u);
    ASSERT_EQ(tl.events.size(), 18u);
    for (size_t i = 1; i < tl.events.size(); ++i) {
        const PerformanceEvent& a = tl.events[i - 1];
        const PerformanceEvent& b = tl.events[i];
        ASSERT_LE(a.seconds, b.seconds);
        ASSERT_FALSE(a.seconds == b.seconds && a.on && !b.on)
            << "note-on before note-off at " << a.seconds;
    }
    // Key 40 sounds 0-1, 1-2, 2-3 s; key 20 every half second.
    EXPECT_EQ(tl.events[0].seconds, 0.0);
    EXPECT_EQ(tl.events.back().seconds, 3.0);

    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        EventCursor cursor;
        std::vector<PerformanceEvent> got;
        double now = 0.0;
        while (now < tl.duration) {
            now += (rng() % 100) / 150.0;
            std::vector<PerformanceEvent> step;
            cursorAdvance(&cursor, tl, now, &step);
            for (const PerformanceEvent& e : step) {
                ASSERT_TRUE(e.seconds < now || now >= tl.duration);
            }
            got.insert(got.end(), step.begin(), step.end());
        }
        ASSERT_EQ(got.size(), tl.events.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].seconds, tl.events[i].seconds);
            EXPECT_EQ(got[i].key, tl.events[i].key);
            EXPECT_EQ(got[i].on, tl.events[i].on);
        }
    }
    // After a seek, only what lies ahead.
    EventCursor cursor;
    cursorSeek(&cursor, tl, 1.75);
    std::vector<PerformanceEvent> rest;
    cursorAdvance(&cursor, tl, 100.0, &rest);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.front().seconds, 2.0);
    EXPECT_EQ(rest.size(), static_cast<size_t>(std::count_if(
                               tl.events.begin(), tl.events.end(),
                               [](const PerformanceEvent& e) { return e.seconds >= 1.75; })));
}
