#include "timeline_support.h"

using namespace timeline_test;

namespace {
const std::string kBundled = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml";

ScoreTiming bundledTiming() {
    const std::string xml = readFile(kBundled);
    ScoreTiming timing;
    std::string error;
    EXPECT_TRUE(loadAndPlan(xml));
    EXPECT_TRUE(readScoreTiming(xml.data(), xml.size(), &timing, &error)) << error;
    return timing;
}
}  // namespace

TEST(Timeline, BundledScoreKeepsEveryInvariant) {
    const ScoreTiming timing = bundledTiming();
    ASSERT_EQ(timing.endTick, static_cast<int32_t>(rightNotes.size()));
    const Timeline tl = buildTimeline(timing, TimelineOptions{});
    ASSERT_FALSE(tl.notes.empty());
    // Four ticks a quarter at 112 quarters a minute, to the grid's end.
    double lastUp = 0.0;
    for (const TimedNote& n : tl.notes) {
        lastUp = std::max(lastUp, n.keyUp);
    }
    EXPECT_NEAR(tl.duration, std::max(lastUp, rightNotes.size() * 60.0 / (112.0 * 4.0)), 1e-9);
    expectInvariants(tl);
}

TEST(Timeline, SpeedRangeAndLeadInKeepEveryInvariant) {
    const ScoreTiming timing = bundledTiming();
    TimelineOptions options;
    options.speed = 1.7;
    options.fromTick = measureTick(timing, "3");
    options.toTick = measureEndTick(timing, "9");
    options.leadIn = 1.25;
    options.leadOut = 0.5;
    ASSERT_GT(options.fromTick, 0);
    const Timeline tl = buildTimeline(timing, options);
    ASSERT_FALSE(tl.notes.empty());
    EXPECT_EQ(tl.notes.front().tick, options.fromTick);
    EXPECT_NEAR(tl.notes.front().onset, 1.25, 1e-9);
    for (const TimedNote& n : tl.notes) {
        EXPECT_GE(n.tick, options.fromTick);
        EXPECT_LE(n.endTick, options.toTick);
    }
    double lastUp = 0.0;
    for (const TimedNote& n : tl.notes) {
        lastUp = std::max(lastUp, n.keyUp);
    }
    EXPECT_NEAR(tl.duration, lastUp + 0.5, 1e-9);
    expectInvariants(tl);
    // Still before the first tick: nothing down, the frame shows the range's first tick.
    PerformanceFrame frame;
    performanceAt(tl, 0.5, &frame);
    EXPECT_EQ(frame.tick, options.fromTick);
    EXPECT_EQ(*std::max_element(std::begin(frame.keyAngle), std::end(frame.keyAngle)), 0.0f);
}

TEST(Timeline, RandomGridsAtManyDivisionsAndTempoChanges) {
    std::mt19937 rng(20261209);
    for (int32_t div : {1, 4, 96, 480, 1000}) {
        SCOPED_TRACE("divisions " + std::to_string(div));
        const int32_t ticks = 96 * div;
        makeRandomGrids(rng, div, ticks);
        ScoreTiming timing;
        timing.divisions = div;
        timing.endTick = ticks;
        timing.tempo = {{0, 90.0}, {ticks / 3, 176.0}, {ticks / 2 + 1, 41.5}, {ticks - 2, 300.0}};
        for (double speed : {1.0, 0.6}) {
            TimelineOptions options;
            options.speed = speed;
            options.leadIn = div == 4 ? 0.0 : 0.3;
            const Timeline tl = buildTimeline(timing, options);
            ASSERT_GT(tl.notes.size(), 150u);
            ASSERT_GT(tl.hands[0].moves.size() + tl.hands[1].moves.size(), 20u);
            expectInvariants(tl, 1500);
            // A hand-made map out of order, with tempi that are no speed, times the same.
            ScoreTiming messy = timing;
            std::reverse(messy.tempo.begin(), messy.tempo.end());
            messy.tempo.push_back({ticks / 4, 0.0});
            messy.tempo.push_back({ticks / 5, std::nan("")});
            const Timeline same = buildTimeline(messy, options);
            ASSERT_EQ(same.notes.size(), tl.notes.size());
            for (size_t i = 0; i < tl.notes.size(); ++i) {
                ASSERT_EQ(same.notes[i].onset, tl.notes[i].onset);
            }
            // The same moment always gives the same frame, whatever came before.
            PerformanceFrame a;
            PerformanceFrame b;
            const double s = tl.duration * 0.37;
            performanceAt(tl, s, &a);
            performanceAt(tl, tl.duration * 0.9, &b);
            performanceAt(tl, s, &b);
            EXPECT_EQ(std::memcmp(&a, &b, sizeof(a)), 0);
        }
    }
}

TEST(Timeline, FingerWaitsOverItsKeyAndEveryNoteShowsForTwoFrames) {
    std::mt19937 rng(7);
    makeRandomGrids(rng, 480, 480 * 16);
    ScoreTiming timing;
    timing.divisions = 480;
    timing.tempo = {{0, 200.0}};
    const Timeline tl = buildTimeline(timing, TimelineOptions{});
    size_t checked = 0;
    for (int hand = 0; hand < 2; ++hand) {
        const HandTrack& track = tl.hands[hand];
        for (int k = 0; k < kSlotCount; ++k) {
            const std::vector<FingerRun>& runs = track.runs[k];
            for (size_t j = 1; j < runs.size(); ++j) {
                // Only where the finger had time to get there.
                if (runs[j].start - runs[j - 1].end < 0.3 || runs[j].startTick == 0) {
                    continue;
                }
                PerformanceFrame frame;
                performanceAt(tl, runs[j].start - 0.001, &frame);
                const HandState& h = hand == 0 ? frame.right : frame.left;
                PerformanceFrame atOnset;
                performanceAt(tl, runs[j].start, &atOnset);
                const HandState& o = hand == 0 ? atOnset.right : atOnset.left;
                EXPECT_NEAR(h.fingers[k].x, KeyLayout[runs[j].key].x - o.position.x, 1e-5);
                // Lower than at rest: it is coming down onto the key.
                EXPECT_GT(h.fingers[k].z, h.position.z - 0.45f);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 20u);
    // Sixty frames a second, at any phase: a one-tick note (about 0.6 ms) is seen down twice.
    size_t shortNotes = 0;
    for (const TimedNote& n : tl.notes) {
        if (n.endTick - n.tick != 1 || n.keyUp - n.onset < kMinimumHeld) {
            continue;
        }
        ++shortNotes;
        for (double phase : {0.0, 0.005, 0.011, 0.0166}) {
            int seen = 0;
            const double first = std::ceil((n.onset - phase) * 60.0) / 60.0 + phase;
            for (double s = first; s < n.keyUp + 0.02; s += 1.0 / 60.0) {
                PerformanceFrame frame;
                performanceAt(tl, s, &frame);
                seen += frame.keyAngle[n.key] > 0.0f;
            }
            EXPECT_GE(seen, 2) << "note at " << n.onset;
        }
        if (shortNotes > 40) {
            break;
        }
    }
    EXPECT_GT(shortNotes, 5u);
}

TEST(Timeline, EmptyRangeAndEmptyGridsGiveStillFrames) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    rightPlan.clear();
    leftPlan.clear();
    createKeyStates();
    ScoreTiming timing;
    timing.divisions = 4;
    const Timeline tl = buildTimeline(timing, TimelineOptions{});
    EXPECT_TRUE(tl.notes.empty());
    EXPECT_TRUE(tl.events.empty());
    EXPECT_EQ(tl.duration, 0.0);
    PerformanceFrame frame;
    performanceAt(tl, 3.0, &frame);
    EXPECT_TRUE(finite(frame));
    EXPECT_EQ(std::memcmp(&frame.right, &rightHand, sizeof(HandState)), 0);
    EXPECT_EQ(std::memcmp(&frame.left, &leftHand, sizeof(HandState)), 0);
}
