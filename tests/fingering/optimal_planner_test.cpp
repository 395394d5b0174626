// The whole-piece planner on real music and on the animation: every note kept in its tick, every
// finger within the hand model's reach for the planned centre, printed fingers honoured, and a
// rising scale played with the thumb passing under while the hand glides.

#include "fingering/optimal_planner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "geometry/hand_model.h"
#include "geometry/key_layout.h"
#include "geometry/solvers.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

using KeyList = std::vector<std::pair<int32_t, int32_t>>;

KeyList notesOf(const NoteEvent& event) {
    KeyList notes;
    for (const NoteSlot& slot : event.slot) {
        if (slot.key != kNoKey) {
            notes.emplace_back(slot.key, slot.lastTick);
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

// Ticks of one hand at which some finger could not reach its key from the planned centre, with
// the real solvers at the deepest point of a press.
int unreachableTicks(int hand) {
    const HandMirror& mirror = hand == 0 ? rightMirror : leftMirror;
    const HandDimensions dims = computeHandDimensions();
    const std::vector<NoteEvent>& grid = *mirror.notes;
    HandState& state = *mirror.hand;
    const HandState saved = state;
    int bad = 0;
    for (size_t t = 0; t < grid.size(); ++t) {
        currentTick = static_cast<int32_t>(t);
        state.position.x = (*mirror.plan)[t];
        bool reached = true;
        for (int k = 0; k < kSlotCount; ++k) {
            const int32_t key = grid[t].slot[k].key;
            if (key == kNoKey) {
                continue;
            }
            state.fingers[k].x = KeyLayout[key].x - state.position.x;
            state.fingers[k].z = deepestFingerHeight(state.position.z, isBlackKey(key));
            const bool corrected = k == 0 ? solveThumb(thumbParams(mirror, dims)).corrected
                                          : solveFinger(fingerParams(mirror, dims, k)).corrected;
            reached = reached && !corrected;
        }
        bad += reached ? 0 : 1;
    }
    state = saved;
    return bad;
}

class OptimalPlanner : public ::testing::Test {
protected:
    void SetUp() override {
        setStartValues();
        rightNotes.clear();
        leftNotes.clear();
        createKeyStates();
    }

    void loadBundledScore() {
        setStartValues();
        std::string program = "quorvel";
        std::string argument = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml";
        char* argv[] = {program.data(), argument.data(), nullptr};
        ASSERT_EQ(loadScore(2, argv), 0);
        createKeyStates();
    }

    // A legato line of `ticks`-tick notes in the right hand.
    void rightLine(const std::vector<int32_t>& keys, int32_t ticks) {
        rightNotes.assign(keys.size() * ticks, kEmptyEvent);
        leftNotes.assign(rightNotes.size(), kEmptyEvent);
        for (size_t i = 0; i < keys.size(); ++i) {
            for (int32_t d = 0; d < ticks; ++d) {
                rightNotes[i * ticks + d].slot[0] = NoteSlot{keys[i], d + 1 == ticks ? 1 : 0};
            }
        }
    }
};

TEST_F(OptimalPlanner, BundledScoreKeepsEveryNoteAndReachesEveryKey) {
    loadBundledScore();
    const std::vector<NoteEvent> right = rightNotes, left = leftNotes;
    planHandsOptimal({});
    ASSERT_EQ(rightPlan.size(), rightNotes.size());
    ASSERT_EQ(leftPlan.size(), leftNotes.size());
    size_t notes = 0;
    for (size_t t = 0; t < right.size(); ++t) {
        ASSERT_EQ(notesOf(rightNotes[t]), notesOf(right[t])) << "right hand, tick " << t;
        ASSERT_EQ(notesOf(leftNotes[t]), notesOf(left[t])) << "left hand, tick " << t;
        notes += notesOf(right[t]).size() + notesOf(left[t]).size();
        // A note held on keeps its finger from one tick to the next.
        for (const std::vector<NoteEvent>* grid : {&rightNotes, &leftNotes}) {
            for (int k = 0; k < kSlotCount && t > 0; ++k) {
                const NoteSlot& before = (*grid)[t - 1].slot[k];
                if (before.key == kNoKey || before.lastTick != 0) {
                    continue;
                }
                bool same = false;
                for (int j = 0; j < kSlotCount; ++j) {
                    same = same || ((*grid)[t].slot[j].key == before.key && j == k);
                }
                EXPECT_TRUE(same) << "tick " << t << ": held key " << before.key << " moved";
            }
        }
    }
    EXPECT_GT(notes, 1000u);
    EXPECT_EQ(unreachableTicks(0), 0);
    EXPECT_EQ(unreachableTicks(1), 0);
}

TEST_F(OptimalPlanner, PrintedFingersAreHonoured) {
    loadBundledScore();
    const std::vector<NoteEvent> right = rightNotes, left = leftNotes;
    planHandsOptimal({});
    // Ask for another finger on every fifth note that starts alone in its hand: a single note can
    // take any finger, so every one of them must be kept, and the rest planned around them.
    std::vector<PrintedFinger> printed;
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& planned = hand == 0 ? rightNotes : leftNotes;
        int seen = 0;
        for (size_t t = 1; t < planned.size(); ++t) {
            const KeyList now = notesOf(planned[t]);
            const KeyList before = notesOf(planned[t - 1]);
            const bool starts =
                now.size() == 1 &&
                (before.empty() || before[0].first != now[0].first || before[0].second == 1);
            if (!starts || ++seen % 5 != 0) {
                continue;
            }
            for (int k = 0; k < kSlotCount; ++k) {
                if (planned[t].slot[k].key != kNoKey) {
                    printed.push_back({hand, static_cast<int32_t>(t), now[0].first, (k + 2) % 5});
                }
            }
        }
    }
    ASSERT_GT(printed.size(), 20u);
    rightNotes = right;
    leftNotes = left;
    planHandsOptimal(printed);
    for (const PrintedFinger& p : printed) {
        const NoteSlot& slot = (p.hand == 0 ? rightNotes : leftNotes)[p.tick].slot[p.finger];
        EXPECT_EQ(slot.key, p.key) << "hand " << p.hand << " tick " << p.tick;
    }
    EXPECT_EQ(unreachableTicks(0), 0);
    EXPECT_EQ(unreachableTicks(1), 0);
}

TEST_F(OptimalPlanner, RandomGridsKeepEveryNoteAndStayOnTheKeyboard) {
    // Grids as a damaged or unusual score may leave them: notes of any length, chords of up to
    // five keys, the same key twice in a tick, keys off the keyboard, hands of different length.
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const size_t n = random() % 120;
        std::vector<NoteEvent> grids[2] = {
            std::vector<NoteEvent>(n, kEmptyEvent),
            std::vector<NoteEvent>(n / (1 + round % 2), kEmptyEvent)};
        for (std::vector<NoteEvent>& grid : grids) {
            for (size_t t = 0; t < grid.size();) {
                const size_t length = 1 + random() % 6;
                const int count = static_cast<int>(random() % 6);
                const int32_t root = static_cast<int32_t>(random() % 100) - 6;
                for (int i = 0; i < count; ++i) {
                    const int32_t key = root + static_cast<int32_t>(random() % 15);
                    for (size_t d = 0; d < length && t + d < grid.size(); ++d) {
                        grid[t + d].slot[i] = NoteSlot{key, d + 1 == length ? 1 : 0};
                    }
                }
                t += length;
            }
        }
        rightNotes = grids[0];
        leftNotes = grids[1];
        planHandsOptimal({});
        for (int hand = 0; hand < 2; ++hand) {
            const std::vector<NoteEvent>& after = hand == 0 ? rightNotes : leftNotes;
            const HandPlan& plan = hand == 0 ? rightPlan : leftPlan;
            ASSERT_EQ(after.size(), grids[hand].size());
            ASSERT_EQ(plan.size(), after.size());
            for (size_t t = 0; t < after.size(); ++t) {
                KeyList expected;
                for (const auto& note : notesOf(grids[hand][t])) {
                    if (note.first >= 0 && note.first < kKeyCount) {
                        expected.push_back(note);
                    }
                }
                ASSERT_EQ(notesOf(after[t]), expected) << "round " << round << " tick " << t;
                ASSERT_TRUE(plan[t] >= KeyLayout[0].x - 1.0f && plan[t] <= KeyLayout[87].x + 1.0f)
                    << "round " << round << " tick " << t << ": centre " << plan[t];
            }
        }
    }
}

TEST_F(OptimalPlanner, RisingScaleShowsTheThumbPassingUnderWhileTheHandGlides) {
    // C major over two octaves from C4, four ticks a note.
    const int32_t ticks = 4;
    std::vector<int32_t> keys{39};
    const int steps[7] = {2, 2, 1, 2, 2, 2, 1};
    for (int i = 0; i < 14; ++i) {
        keys.push_back(keys.back() + steps[i % 7]);
    }
    rightLine(keys, ticks);
    planHandsOptimal({});

    // The thumb (slot 0) plays C, F, C and F: it passes under the third finger after E and under
    // the fourth after B, instead of the hand jumping when the five fingers are used up.
    std::vector<size_t> thumbNotes;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (rightNotes[i * ticks].slot[0].key == keys[i]) {
            thumbNotes.push_back(i);
        }
    }
    EXPECT_EQ(thumbNotes, (std::vector<size_t>{0, 3, 7, 10}));
    EXPECT_EQ(rightNotes[14 * ticks].slot[4].key, keys[14]);  // the top C by the little finger

    // The planned centre moves up with the line, never by more than about one white key (the
    // distance between two notes of the scale) from one note to the next.
    for (size_t i = 1; i < keys.size(); ++i) {
        const float step = rightPlan[i * ticks] - rightPlan[(i - 1) * ticks];
        EXPECT_GE(step, 0.0f) << "note " << i;
        EXPECT_LE(step, 0.35f) << "note " << i;
    }
    // Played by the animation: the hand only ever moves up the keyboard, a third of that at a
    // time, so the thumb's passing is a glide, not a jump.
    resetPerformance();
    float last = rightPlan[0];
    float largestStep = 0.0f;
    while (currentTick < static_cast<int32_t>(rightNotes.size())) {
        animationStep();
        if (currentTick > 0) {
            largestStep = std::max(largestStep, std::fabs(rightHand.position.x - last));
            EXPECT_GE(rightHand.position.x, last - 1e-4f) << "tick " << currentTick;
        }
        last = rightHand.position.x;
    }
    EXPECT_LT(largestStep, 0.35f / 3 + 1e-3f) << "largest step " << largestStep;
    EXPECT_GT(last - rightPlan[0], 13 * 0.315f * 0.5f);  // it did travel up the two octaves
    EXPECT_EQ(unreachableTicks(0), 0);
}

}  // namespace
