#include "fingering/planner.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace {

// A tick record holding `keys` in slots 0, 1, ... in reading order, each with lastTick 1.
NoteEvent tick(std::initializer_list<int32_t> keys) {
    NoteEvent event = kEmptyEvent;
    int slot = 0;
    for (int32_t key : keys) {
        event.slot[slot++] = NoteSlot{key, 1};
    }
    return event;
}

float centerOf(int low, int high) {
    return (KeyLayout[high].x + KeyLayout[low].x) / 2.0f;
}

// The keys of slots 0..4.
std::vector<int32_t> keysOf(const NoteEvent& event) {
    std::vector<int32_t> keys;
    for (const NoteSlot& slot : event.slot) {
        keys.push_back(slot.key);
    }
    return keys;
}

const int32_t E = kNoKey;

class PlannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        buildKeyLayout();
        rightNotes.clear();
        leftNotes.clear();
        rightPlan.clear();
        leftPlan.clear();
        divisions = 1;
        scanLength = 1000;
    }
};

TEST_F(PlannerTest, EmptyGridAndEmptyTicks) {
    // An empty grid leaves empty plans, even when a previous run left something behind.
    rightPlan = {1.0f, 2.0f};
    leftPlan = {3.0f};
    planRightHand();
    planLeftHand();
    EXPECT_TRUE(rightPlan.empty());
    EXPECT_TRUE(leftPlan.empty());
    EXPECT_TRUE(rightNotes.empty());

    // An empty tick gets the current window's centre; its slots stay empty and keep lastTick.
    NoteEvent rest = kEmptyEvent;
    for (NoteSlot& slot : rest.slot) {
        slot.lastTick = 0;
    }
    rightNotes = {rest, tick({39}), rest};
    scanLength = 3;
    planRightHand();
    ASSERT_EQ(rightPlan.size(), 3u);
    // The window starts at minKey 39 with width 8: 39..46.
    EXPECT_EQ(rightPlan[0], centerOf(39, 46));
    EXPECT_EQ(rightPlan[1], centerOf(39, 46));
    EXPECT_EQ(rightPlan[2], centerOf(39, 46));
    for (int t : {0, 2}) {
        for (const NoteSlot& slot : rightNotes[t].slot) {
            EXPECT_EQ(slot.key, E);
            EXPECT_EQ(slot.lastTick, 0);
        }
    }
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int32_t>{39, E, E, E, E}));
}

TEST_F(PlannerTest, WidthEightRegionsAndRisingRegionStarts) {
    // Chord in scrambled reading order at low 39, width 8: thumb 39, index 41, middle 43,
    // ring 45, little 46.
    rightNotes = {tick({45, 39, 46, 43, 41}), tick({40, 41}), tick({39, 48})};
    leftNotes = {tick({27, 20, 22, 24, 26})};
    scanLength = 1;
    planRightHand();
    planLeftHand();
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int32_t>{39, 41, 43, 45, 46}));
    // 40 and 41 alone: 40 goes to the index finger, which moves the middle finger's region
    // start down to 41, so 41 goes to the middle finger, not to the index finger.
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int32_t>{E, 40, 41, E, E}));
    // Each tick is its own window here: minKey stays 39, so 39..46, then widened to 48.
    EXPECT_EQ(rightPlan[0], centerOf(39, 46));
    EXPECT_EQ(rightPlan[1], centerOf(39, 46));
    EXPECT_EQ(rightPlan[2], centerOf(39, 48));
    EXPECT_EQ(keysOf(rightNotes[2]), (std::vector<int32_t>{39, E, E, E, 48}));
    // Left hand at low 20: little {20}, ring {21, 22}, middle {23, 24}, index {25, 26},
    // thumb {27}.
    EXPECT_EQ(keysOf(leftNotes[0]), (std::vector<int32_t>{27, 26, 24, 22, 20}));
    EXPECT_EQ(leftPlan[0], centerOf(20, 27));
}

TEST_F(PlannerTest, RegionTablesOfBothHands) {
    // For each width, which position (0 = lowest) takes each key of the window, low to high.
    const std::string expected[] = {"01122334",    "011222334",    "0011223344",
                                    "00112223344", "001122223344", "0011122233344"};
    const int low = 30;
    for (int width = 8; width <= 13; ++width) {
        const int high = low + width - 1;
        // Tick 0 sets the window to low..high; every later tick holds a single key.
        std::vector<NoteEvent> grid = {tick({low, high})};
        for (int key = low; key <= high; ++key) {
            grid.push_back(tick({key}));
        }
        rightNotes = grid;
        leftNotes = grid;
        planRightHand();
        planLeftHand();
        for (int key = low; key <= high; ++key) {
            SCOPED_TRACE("width " + std::to_string(width) + " key " + std::to_string(key));
            const int position = expected[width - 8][key - low] - '0';
            const NoteEvent& right = rightNotes[1 + key - low];
            const NoteEvent& left = leftNotes[1 + key - low];
            for (int slot = 0; slot < kSlotCount; ++slot) {
                EXPECT_EQ(right.slot[slot].key, slot == position ? key : E);
                EXPECT_EQ(left.slot[slot].key, slot == 4 - position ? key : E);
            }
            EXPECT_EQ(rightPlan[1 + key - low], centerOf(low, high));
        }
    }
}

TEST_F(PlannerTest, WindowWidensAndFollowsTheHighestNote) {
    // minKey carries over between windows: the first window reaches key 10, so the window of
    // ticks 2..3 starts at 10..17 and its first note-bearing tick lifts it to 25..37.
    rightNotes = {tick({10}), tick({}), tick({}), tick({30, 37})};
    scanLength = 2;
    planRightHand();
    EXPECT_EQ(rightPlan[0], centerOf(10, 17));
    EXPECT_EQ(rightPlan[2], centerOf(10, 17));
    EXPECT_EQ(rightPlan[3], centerOf(25, 37));
    // Width 13 from 25: regions 25-26, 27-29, 30-32, 33-35, 36-37.
    EXPECT_EQ(keysOf(rightNotes[3]), (std::vector<int32_t>{E, E, 30, E, 37}));

    // A span of more than 12 keys: the window follows 60 (48..60); 40 fits no region and the
    // fallback puts it on the little finger, where 60 then overwrites it.
    rightNotes = {tick({40}), tick({60, 40})};
    leftNotes = rightNotes;
    scanLength = 2;
    planRightHand();
    planLeftHand();
    EXPECT_EQ(rightPlan[0], centerOf(40, 47));
    EXPECT_EQ(rightPlan[1], centerOf(48, 60));
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int32_t>{E, E, E, E, 60}));
    EXPECT_EQ(rightFallbackTicks, (std::vector<int32_t>{1}));
    // The left hand mirrors it: the thumb is its highest finger.
    EXPECT_EQ(keysOf(leftNotes[1]), (std::vector<int32_t>{60, E, E, E, E}));
    EXPECT_EQ(leftFallbackTicks, (std::vector<int32_t>{1}));
    EXPECT_EQ(leftPlan[1], centerOf(48, 60));

    // Widening downwards caps the window at 13 keys by pulling its top end down.
    rightNotes = {tick({50}), tick({30, 35})};
    planRightHand();
    EXPECT_EQ(rightPlan[1], centerOf(30, 42));
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int32_t>{30, E, 35, E, E}));
}

TEST_F(PlannerTest, FallbackShiftsNotesTowardsTheLowEnd) {
    // Right hand, low 39 width 8, key 40 twice plus 44. The first 40 goes to the index finger;
    // the second fits no open region, so the index finger's note moves to the thumb and the
    // little finger takes the second 40; 44 then takes the ring finger's region.
    NoteEvent twice = kEmptyEvent;
    twice.slot[0] = {40, 0};
    twice.slot[1] = {40, 1};
    twice.slot[2] = {44, 0};
    rightNotes = {tick({39}), twice};
    planRightHand();
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int32_t>{40, E, E, 44, 40}));
    // Whole slots move, lastTick with its key: the 40 read first reaches the index finger
    // first and is then pushed on to the thumb.
    EXPECT_EQ(rightNotes[1].slot[0].lastTick, 0);
    EXPECT_EQ(rightNotes[1].slot[4].lastTick, 1);
    EXPECT_EQ(rightNotes[1].slot[3].lastTick, 0);
    EXPECT_EQ(rightFallbackTicks, (std::vector<int32_t>{1}));

    // Left hand, low 20: the first 20 goes to the little finger; the second makes every slot
    // move one finger towards the low end, the little finger's 20 is overwritten and the thumb
    // takes the new 20; 21 then goes to the ring finger.
    leftNotes = {tick({20, 21, 20})};
    planLeftHand();
    EXPECT_EQ(keysOf(leftNotes[0]), (std::vector<int32_t>{20, E, E, 21, E}));
    EXPECT_EQ(leftFallbackTicks, (std::vector<int32_t>{0}));

    // A thumb note lost to the fallback stays lost: a second run starts from the rewritten
    // slots, rebuilds the plan to the same length and reproduces the same fingering.
    rightNotes = {tick({39}), tick({39, 40, 40})};
    planRightHand();
    const std::vector<int32_t> first = keysOf(rightNotes[1]);
    EXPECT_EQ(first, (std::vector<int32_t>{40, E, E, E, 40}));
    const HandPlan firstPlan = rightPlan;
    planRightHand();
    EXPECT_EQ(keysOf(rightNotes[1]), first);
    EXPECT_EQ(rightPlan, firstPlan);
}

TEST_F(PlannerTest, SecondRunTakesANewScanLength) {
    rightNotes = {tick({50}), tick({30}), tick({52})};
    scanLength = 1;
    planRightHand();
    ASSERT_EQ(rightPlan.size(), 3u);
    // One tick per window: the hand starts at 50..57, minKey drops to 30 for the second
    // window, and the third follows 52 upwards to 40..52.
    EXPECT_EQ(rightPlan[0], centerOf(50, 57));
    EXPECT_EQ(rightPlan[1], centerOf(30, 37));
    EXPECT_EQ(rightPlan[2], centerOf(40, 52));

    // One window over everything: minKey is 30 from the first tick, so the hand reaches up
    // from 30..37 to 50 (38..50), back down to 30 (30..42) and up again to 52 (40..52).
    scanLength = 3;
    planRightHand();
    ASSERT_EQ(rightPlan.size(), 3u);
    EXPECT_EQ(rightPlan[0], centerOf(38, 50));
    EXPECT_EQ(rightPlan[1], centerOf(30, 42));
    EXPECT_EQ(rightPlan[2], centerOf(40, 52));
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int32_t>{E, E, E, E, 50}));
    EXPECT_EQ(keysOf(rightNotes[1]), (std::vector<int32_t>{30, E, E, E, E}));
}

TEST_F(PlannerTest, CentresStayOverTheKeyboard) {
    // Before its first note a hand waits where it will first play: the empty windows take the
    // centre of the first window that holds a note.
    rightNotes = {tick({}), tick({}), tick({}), tick({60})};
    leftNotes = {tick({}), tick({}), tick({}), tick({})};
    scanLength = 2;
    planRightHand();
    planLeftHand();
    ASSERT_EQ(rightPlan.size(), 4u);
    for (float center : rightPlan) {
        EXPECT_EQ(center, centerOf(60, 67));
    }
    // A hand that never plays stays at its rest position.
    ASSERT_EQ(leftPlan.size(), 4u);
    for (float center : leftPlan) {
        EXPECT_FLOAT_EQ(center, -1.3f);
    }
    rightNotes = leftNotes;
    planRightHand();
    for (float center : rightPlan) {
        EXPECT_FLOAT_EQ(center, 1.3f);
    }

    // A window reaching above C8 is centred on the keys that exist; the notes are still placed
    // by the full window (85..92: thumb 85, index 86..87).
    rightNotes = {tick({85, 87}), tick({}), tick({87})};
    scanLength = 1;
    planRightHand();
    EXPECT_EQ(rightPlan[0], centerOf(85, 87));
    EXPECT_EQ(rightPlan[1], centerOf(85, 87));
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int32_t>{85, 87, E, E, E}));
    EXPECT_EQ(keysOf(rightNotes[2]), (std::vector<int32_t>{E, 87, E, E, E}));
    for (float center : rightPlan) {
        EXPECT_GE(center, KeyLayout[0].x);
        EXPECT_LE(center, KeyLayout[87].x);
    }
}

TEST_F(PlannerTest, KeysOffTheKeyboardAreDropped) {
    // Keys outside 0..87 neither move the window nor reach a finger; their slots end empty.
    NoteEvent event = tick({88, 40, -7, 500, 41});
    rightNotes = {event};
    leftNotes = {tick({-2, 100})};
    planRightHand();
    planLeftHand();
    EXPECT_EQ(rightPlan[0], centerOf(40, 47));
    EXPECT_EQ(keysOf(rightNotes[0]), (std::vector<int32_t>{40, 41, E, E, E}));
    EXPECT_EQ(keysOf(leftNotes[0]), (std::vector<int32_t>{E, E, E, E, E}));
    EXPECT_FLOAT_EQ(leftPlan[0], -1.3f);
    EXPECT_TRUE(rightFallbackTicks.empty());
}

TEST_F(PlannerTest, ScanLengthOutsideItsRange) {
    const std::vector<NoteEvent> grid = {tick({50}), tick({30}), tick({52}), tick({20}),
                                         tick({60})};
    auto planWith = [&](int32_t scan) {
        rightNotes = grid;
        scanLength = scan;
        planRightHand();
        return rightPlan;
    };
    // Below 1 the planner uses one quarter note, or one tick while divisions is unknown, and
    // leaves scanLength itself alone.
    divisions = 2;
    const HandPlan twoTicks = planWith(2);
    const HandPlan oneTick = planWith(1);
    ASSERT_NE(twoTicks, oneTick);
    EXPECT_EQ(planWith(0), twoTicks);
    EXPECT_EQ(scanLength, 0);
    EXPECT_EQ(planWith(-3), twoTicks);
    divisions = 0;
    EXPECT_EQ(planWith(0), oneTick);
    // A scan length far beyond the grid is one window over all of it.
    EXPECT_EQ(planWith(INT32_MAX), planWith(static_cast<int32_t>(grid.size())));
    EXPECT_EQ(rightPlan.size(), grid.size());
}

}  // namespace
