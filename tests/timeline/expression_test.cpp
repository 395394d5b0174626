// The performance's velocities, pedal and practice aids: a prepared piece of our own with
// dynamics and pedal marks, performed over its planned grids, whole and over a range, with one
// hand sounding, and with the metronome.

#include "timeline/expression.h"

#include <map>
#include <tuple>

#include "prepare/prepare.h"
#include "timeline_support.h"

using namespace timeline_test;

namespace {
const std::string kPiece = QUORVEL_SOURCE_DIR "/tests/data/performance/dynamics_marks.xml";

struct Performed {
    PrepareResult prepared;
    ScoreTiming timing;
};

void prepareAndPlan(Performed* p) {
    ASSERT_TRUE(prepareScore(kPiece, PrepareOptions{}, &p->prepared)) << p->prepared.error;
    ASSERT_TRUE(loadAndPlan(p->prepared.xml));
    std::string error;
    ASSERT_TRUE(readScoreTiming(p->prepared.xml.data(), p->prepared.xml.size(), &p->timing, &error))
        << error;
}

int rankOf(const PerformanceEvent& e) {
    if (e.kind == EventKind::Pedal) {
        return e.on ? 2 : 1;
    }
    return e.on ? 3 : 0;
}
}  // namespace

TEST(Expression, EveryNoteSoundsAtItsPiecesVelocityAndThePedalWhereItIsMarked) {
    Performed p;
    prepareAndPlan(&p);
    const Piece& piece = p.prepared.piece;
    std::map<std::tuple<int, int32_t, int32_t>, int> written;
    for (const PieceNote& n : piece.notes) {
        written[{n.hand, n.key, n.tick}] = n.velocity;
    }
    TimelineOptions options;
    options.piece = &piece;
    options.leadIn = 0.5;
    const Timeline tl = buildTimeline(p.timing, options);
    expectInvariants(tl);
    ASSERT_EQ(tl.notes.size(), piece.notes.size());
    std::map<int, int> levels;  // velocity -> notes: the piece is not one loudness
    for (const TimedNote& n : tl.notes) {
        auto it = written.find({n.hand, n.key, n.tick});
        ASSERT_NE(it, written.end());
        EXPECT_EQ(n.velocity, it->second) << n.key << " at " << n.tick;
        ++levels[n.velocity];
    }
    EXPECT_GE(levels.size(), 6u);
    // Note-ons carry the velocity; at one moment offs, pedal up, pedal down, ons.
    size_t ons = 0;
    std::vector<std::pair<double, int>> pedal;
    for (size_t i = 0; i < tl.events.size(); ++i) {
        const PerformanceEvent& e = tl.events[i];
        if (i > 0 && tl.events[i - 1].seconds == e.seconds) {
            EXPECT_LE(rankOf(tl.events[i - 1]), rankOf(e)) << "at " << e.seconds;
        }
        if (e.kind == EventKind::Note && e.on) {
            ++ons;
            const auto at = static_cast<int32_t>(std::lround(tickAtTime(tl, e.seconds)));
            EXPECT_EQ(e.velocity, (written[{e.hand, e.key, at}]));
        }
        if (e.kind == EventKind::Pedal) {
            pedal.emplace_back(tickAtTime(tl, e.seconds), e.velocity);
        }
    }
    EXPECT_EQ(ons, tl.notes.size());
    const std::vector<std::pair<int, int>> marked = {{0, 127}, {4, 0},    {4, 127},
                                                     {10, 0},  {12, 127}, {15, 0}};
    ASSERT_EQ(pedal.size(), marked.size());
    for (size_t i = 0; i < marked.size(); ++i) {
        EXPECT_NEAR(pedal[i].first, marked[i].first * piece.divisions, 1e-6);
        EXPECT_EQ(pedal[i].second, marked[i].second);
    }
    // The pedal as the picture shows it.
    EXPECT_EQ(pedalDepthAt(tl, 0.1), 0.0);  // lead-in: not yet pressed
    EXPECT_EQ(pedalDepthAt(tl, timeOfTick(tl, 2.0 * piece.divisions)), 1.0);
    EXPECT_EQ(pedalDepthAt(tl, timeOfTick(tl, 4.0 * piece.divisions)), 1.0);  // changed
    EXPECT_EQ(pedalDepthAt(tl, timeOfTick(tl, 11.0 * piece.divisions)), 0.0);
    EXPECT_EQ(pedalDepthAt(tl, timeOfTick(tl, 13.0 * piece.divisions)), 1.0);

    // A range starting with the pedal down presses it at its start, and lifts it at its end
    // when it stops before the piece does.
    TimelineOptions range = options;
    range.fromTick = 5 * piece.divisions;
    range.toTick = 9 * piece.divisions;
    const Timeline part = buildTimeline(p.timing, range);
    ASSERT_EQ(part.pedal.size(), 2u);
    EXPECT_EQ(part.pedal[0].tick, range.fromTick);
    EXPECT_EQ(part.pedal[0].value, 127);
    EXPECT_EQ(part.pedal[1].tick, range.toTick);
    EXPECT_EQ(part.pedal[1].value, 0);
    EXPECT_EQ(pedalDepthAt(buildTimeline(p.timing, TimelineOptions{}), 1.0), -1.0);  // no piece
}

TEST(Expression, OneHandSoundsWhileTheOtherHandsKeysStillGoDown) {
    Performed p;
    prepareAndPlan(&p);
    for (int hand = 0; hand < 2; ++hand) {
        TimelineOptions options;
        options.piece = &p.prepared.piece;
        options.soundedHand = hand;
        const Timeline tl = buildTimeline(p.timing, options);
        const Timeline both = buildTimeline(p.timing, TimelineOptions{});
        ASSERT_EQ(tl.notes.size(), both.notes.size());
        size_t silent = 0;
        for (const TimedNote& n : tl.notes) {
            EXPECT_EQ(n.silent, n.hand != hand);
            if (n.silent) {
                ++silent;
                PerformanceFrame frame;
                performanceAt(tl, (n.onset + n.keyUp) / 2.0, &frame);
                EXPECT_GT(frame.keyAngle[n.key], 5.0f) << "silent key " << n.key << " not down";
            }
        }
        EXPECT_GT(silent, 0u);
        for (const PerformanceEvent& e : tl.events) {
            if (e.kind == EventKind::Note) {
                EXPECT_EQ(e.hand, hand);
            }
        }
    }
}

TEST(Expression, TheMetronomeCountsABarInThenClicksEveryBeat) {
    Performed p;
    prepareAndPlan(&p);
    TimelineOptions options;
    options.piece = &p.prepared.piece;
    options.metronome = true;
    options.leadIn = 1.0;
    const Timeline tl = buildTimeline(p.timing, options);
    std::vector<double> clicks;
    std::vector<bool> down;
    for (const PerformanceEvent& e : tl.events) {
        if (e.kind == EventKind::Click) {
            clicks.push_back(e.seconds);
            down.push_back(e.key == kClickDownbeat);
        }
    }
    // 4/4, four measures: four clicks of count-in and sixteen beats.
    ASSERT_EQ(clicks.size(), 20u);
    const double beat = timeOfTick(tl, p.prepared.piece.divisions) - timeOfTick(tl, 0);
    EXPECT_GE(clicks.front(), 0.0);
    EXPECT_NEAR(clicks[4], timeOfTick(tl, 0), 1e-9);
    for (size_t i = 1; i < clicks.size(); ++i) {
        EXPECT_NEAR(clicks[i] - clicks[i - 1], beat, 1e-9);
        EXPECT_EQ(down[i], i % 4 == 0);
    }
    EXPECT_TRUE(down[0]);
    EXPECT_GE(tl.options.leadIn, 4 * beat);

    // A compound metre is counted in dotted quarters; a bar of 3/4 in quarters.
    ScoreTiming timing;
    timing.divisions = 2;
    timing.measures = {{"1", 0}, {"2", 6}, {"3", 12}};
    timing.endTick = 18;
    Piece piece;
    piece.measures = {{"1", 0, 6, 8}, {"2", 6, 6, 8}, {"3", 12, 3, 4}};
    const std::vector<Beat> beats = beatsOf(timing, &piece, 0, 18);
    const std::vector<int32_t> ticks = {0, 3, 6, 9, 12, 14, 16};
    ASSERT_EQ(beats.size(), ticks.size());
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(beats[i].tick, ticks[i]);
        EXPECT_EQ(beats[i].downbeat, ticks[i] % 6 == 0);
    }
    int count = 0;
    int32_t each = 0;
    countInOf(timing, &piece, 0, &count, &each);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(each, 3);
    countInOf(timing, &piece, 12, &count, &each);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(each, 2);
}
