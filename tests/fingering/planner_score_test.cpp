// Runs the bundled score through the reader and the planner and checks what must hold at every
// tick of a real piece, for several scan lengths.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

using SlotList = std::vector<std::pair<int32_t, int32_t>>;

// The notes of a tick as sorted (key, lastTick) pairs, empty slots left out.
SlotList notesOf(const NoteEvent& event) {
    SlotList notes;
    for (const NoteSlot& slot : event.slot) {
        if (slot.key != kNoKey) {
            notes.emplace_back(slot.key, slot.lastTick);
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

// How many times each tick appears in a fallback list.
std::vector<int> countPerTick(const std::vector<int32_t>& ticks, size_t n) {
    std::vector<int> count(n, 0);
    for (int32_t t : ticks) {
        EXPECT_GE(t, 0);
        EXPECT_LT(static_cast<size_t>(t), n);
        if (t >= 0 && static_cast<size_t>(t) < n) {
            ++count[t];
        }
    }
    return count;
}

// Checks one hand after a run and returns the number of notes it held before. `fingerStep` is +1
// when the slot numbers rise with the key (right hand: thumb lowest) and -1 when they fall (left
// hand: little finger lowest).
size_t checkHand(const char* hand, const std::vector<NoteEvent>& before,
                 const std::vector<NoteEvent>& after, const HandPlan& plan,
                 const std::vector<int32_t>& fallbackTicks, int fingerStep) {
    SCOPED_TRACE(hand);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(plan.size(), after.size());
    if (after.size() != before.size() || plan.size() != after.size()) {
        return 0;
    }
    const std::vector<int> fallbacks = countPerTick(fallbackTicks, after.size());
    size_t notesBefore = 0, badTicks = 0;
    for (size_t t = 0; t < after.size() && badTicks < 10; ++t) {
        if (!(plan[t] >= KeyLayout[0].x && plan[t] <= KeyLayout[87].x)) {
            ADD_FAILURE() << "tick " << t << ": centre " << plan[t] << " off the keyboard";
            ++badTicks;
        }
        const SlotList was = notesOf(before[t]);
        const SlotList is = notesOf(after[t]);
        notesBefore += was.size();
        // Nothing is invented or duplicated: what is left is part of what was there.
        if (!std::includes(was.begin(), was.end(), is.begin(), is.end())) {
            ADD_FAILURE() << "tick " << t << ": the planner made up a note";
            ++badTicks;
        }
        if (fallbacks[t] == 0) {
            // Without a fallback every note is kept, and the keys rise from the hand's lowest
            // finger to its highest.
            if (is != was) {
                ADD_FAILURE() << "tick " << t << ": a note was lost without a fallback";
                ++badTicks;
            }
            int32_t previous = -1;
            for (int i = 0; i < kSlotCount; ++i) {
                const int slot = fingerStep > 0 ? i : kSlotCount - 1 - i;
                const int32_t key = after[t].slot[slot].key;
                if (key == kNoKey) {
                    continue;
                }
                if (key <= previous) {
                    ADD_FAILURE() << "tick " << t << ": keys out of finger order";
                    ++badTicks;
                    break;
                }
                previous = key;
            }
        } else if (was.size() - is.size() > 2u * fallbacks[t]) {
            // A fallback drops at most the note it pushes off the lowest finger and, later in
            // the tick, the note it handed to the highest one.
            ADD_FAILURE() << "tick " << t << ": more notes lost than fallbacks explain";
            ++badTicks;
        }
    }
    return notesBefore;
}

// A grid of `n` ticks in which a hand drifts over the keyboard playing single notes and chords
// that last a few ticks, now and then with a doubled key or a stretch no hand can span.
std::vector<NoteEvent> randomGrid(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<NoteEvent> grid(n, kEmptyEvent);
    int centre = 44;
    for (size_t t = 0; t < n;) {
        centre = std::clamp(centre + static_cast<int>(random() % 9) - 4, 4, 83);
        const size_t length = 1 + random() % 4;
        const int notes = static_cast<int>(random() % 6);
        const int reach = random() % 10 == 0 ? 12 : 5;
        for (int i = 0; i < notes; ++i) {
            const int key = std::clamp(
                centre + static_cast<int>(random() % (2 * reach + 1)) - reach, 0, kKeyCount - 1);
            for (size_t d = 0; d < length && t + d < n; ++d) {
                grid[t + d].slot[i] = NoteSlot{key, d + 1 == length ? 1 : 0};
            }
        }
        t += length;
    }
    return grid;
}

TEST(PlannerOnBundledScore, EveryTickKeepsItsInvariants) {
    const std::string path = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml";
    ASSERT_TRUE(std::filesystem::exists(path)) << "the bundled score is missing: " << path;

    buildKeyLayout();
    rightNotes.clear();
    leftNotes.clear();
    currentTick = -1;
    divisions = 0;
    scanLength = 0;
    std::string program = "quorvel";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    ASSERT_EQ(loadScore(2, argv), 0) << "the reader rejected the bundled score";
    ASSERT_GT(divisions, 0);
    ASSERT_FALSE(rightNotes.empty());
    ASSERT_EQ(leftNotes.size(), rightNotes.size());

    const std::vector<NoteEvent> rightRead = rightNotes;
    const std::vector<NoteEvent> leftRead = leftNotes;
    // The start-up scan length, the shortest the commands allow, and a long one.
    for (int32_t quarters : {4, 1, 16}) {
        SCOPED_TRACE("scan length " + std::to_string(quarters) + " quarter notes");
        rightNotes = rightRead;
        leftNotes = leftRead;
        scanLength = quarters * divisions;
        planRightHand();
        planLeftHand();
        const size_t notes =
            checkHand("right hand", rightRead, rightNotes, rightPlan, rightFallbackTicks, +1) +
            checkHand("left hand", leftRead, leftNotes, leftPlan, leftFallbackTicks, -1);
        const size_t fallbacks = rightFallbackTicks.size() + leftFallbackTicks.size();
        EXPECT_GT(notes, 0u);
        std::printf("scan length %d: %zu sounding slots over all ticks, %zu fallbacks\n",
                    scanLength, notes, fallbacks);
        std::fflush(stdout);

        // A second run over the planned grid keeps the length of every list and loses nothing
        // the first run kept, apart from what a new fallback overwrites.
        const std::vector<NoteEvent> rightPlanned = rightNotes;
        const std::vector<NoteEvent> leftPlanned = leftNotes;
        planRightHand();
        planLeftHand();
        checkHand("right hand, second run", rightPlanned, rightNotes, rightPlan, rightFallbackTicks,
                  +1);
        checkHand("left hand, second run", leftPlanned, leftNotes, leftPlan, leftFallbackTicks, -1);
    }
}

TEST(PlannerOnRandomGrids, EveryTickKeepsItsInvariants) {
    buildKeyLayout();
    divisions = 4;
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::vector<NoteEvent> rightRead = randomGrid(20000, seed);
        const std::vector<NoteEvent> leftRead = randomGrid(20000, seed + 100);
        for (int32_t scan : {1, 4, 16, 64}) {
            SCOPED_TRACE("scan length " + std::to_string(scan));
            rightNotes = rightRead;
            leftNotes = leftRead;
            scanLength = scan;
            planRightHand();
            planLeftHand();
            checkHand("right hand", rightRead, rightNotes, rightPlan, rightFallbackTicks, +1);
            checkHand("left hand", leftRead, leftNotes, leftPlan, leftFallbackTicks, -1);
            // The stretches and doubled keys in this content must reach the fallback.
            EXPECT_FALSE(rightFallbackTicks.empty());
            EXPECT_FALSE(leftFallbackTicks.empty());
        }
    }
}

}  // namespace
