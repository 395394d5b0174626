// The fitted planner's rules as a pianist would have them: the hand travels the short way across
// the leaps of real scores, and the thumb takes a black key only where a chord needs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"
#include "fingering/optimal_planner.h"
#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace {

constexpr int32_t kNoteTicks = 2;

class FittedRules : public ::testing::Test {
protected:
    void SetUp() override {
        buildKeyLayout();
        resetPerformance();
        divisions = 2;
    }

    // Plans a legato line of single notes (0 for no note: a rest) in one hand, the other resting,
    // with `costs`, and returns the finger (1..5) of every note.
    std::vector<int> plan(int hand, const std::vector<int32_t>& keys, const fitted::Costs& costs) {
        std::vector<NoteEvent> line(keys.size() * kNoteTicks, kEmptyEvent);
        for (size_t i = 0; i < keys.size(); ++i) {
            for (int32_t d = 0; d < kNoteTicks && keys[i] > 0; ++d) {
                line[i * kNoteTicks + d].slot[0] = NoteSlot{keys[i], d + 1 == kNoteTicks ? 1 : 0};
            }
        }
        const std::vector<NoteEvent> rest(line.size(), kEmptyEvent);
        rightNotes = hand == 0 ? line : rest;
        leftNotes = hand == 0 ? rest : line;
        resetPerformance();
        planHandsOptimalWith({}, costs);
        const std::vector<NoteEvent>& planned = hand == 0 ? rightNotes : leftNotes;
        std::vector<int> fingers;
        for (size_t i = 0; i < keys.size(); ++i) {
            int finger = 0;
            for (int k = 0; k < kSlotCount; ++k) {
                finger = planned[i * kNoteTicks].slot[k].key == keys[i] ? k + 1 : finger;
            }
            fingers.push_back(finger);
        }
        return fingers;
    }
};

// Semitones the relaxed hand moves when finger fb (1..5) takes key b after finger fa took key a,
// in the right hand's sense (the left hand mirrored): how far the hand over the second key lies
// from the hand over the first, each finger where it sits in a hand on five white keys.
int travel(int hand, int32_t a, int fa, int32_t b, int fb) {
    static const int kRelaxed[6] = {0, 0, 2, 4, 5, 7};
    const int d = hand == 0 ? b - a : a - b;
    return std::abs(d - (kRelaxed[fb] - kRelaxed[fa]));
}

// The finger (1..5) the grids give a placed note at its first tick, or 0.
int fingerOf(const PlacedNote& n) {
    const std::vector<NoteEvent>& grid = n.hand == 0 ? rightNotes : leftNotes;
    for (int k = 0; k < kSlotCount; ++k) {
        if (grid[n.tick].slot[k].key == n.key) {
            return k + 1;
        }
    }
    return 0;
}

// The hand's travel over every leap of more than a thumb-to-little-finger span between two single
// notes in a row of one hand, as the grids finger the piece now; `leaps` counts them.
long leapTravel(const std::vector<PlacedNote>& notes, int* leaps) {
    long total = 0;
    for (int hand = 0; hand < 2; ++hand) {
        std::vector<const PlacedNote*> line;  // the hand's notes by onset
        for (const PlacedNote& n : notes) {
            if (n.hand == hand && n.placed) {
                line.push_back(&n);
            }
        }
        std::stable_sort(line.begin(), line.end(), [](const PlacedNote* a, const PlacedNote* b) {
            return a->tick < b->tick;
        });
        // A note alone at its onset, nothing else of the hand sounding with it.
        auto single = [&](size_t i) {
            const PlacedNote& n = *line[i];
            const bool before = i > 0 && line[i - 1]->tick + line[i - 1]->length > n.tick;
            const bool with = (i > 0 && line[i - 1]->tick == n.tick) ||
                              (i + 1 < line.size() && line[i + 1]->tick == n.tick);
            return !before && !with;
        };
        for (size_t i = 1; i < line.size(); ++i) {
            const PlacedNote& a = *line[i - 1];
            const PlacedNote& b = *line[i];
            if (!single(i - 1) || !single(i) || std::abs(b.key - a.key) <= 15) {
                continue;
            }
            const int fa = fingerOf(a), fb = fingerOf(b);
            EXPECT_TRUE(fa > 0 && fb > 0) << "a note without a finger";
            total += travel(hand, a.key, fa, b.key, fb);
            ++*leaps;
        }
    }
    return total;
}

// Over the leaps of every fingered score in data/fingering-train (each a single note after a
// single note more than 15 semitones away, so that no hand spans it), the planner with the travel
// rule moves the hand less than the same planner without it: the finger before a leap leaves the
// hand where the leap is short, and the finger after it lands the hand on the near side.
TEST_F(FittedRules, TheHandTravelsLessAcrossTheLeapsOfRealScores) {
    const fitted::Costs& costs = fitted::embeddedCosts();
    ASSERT_GT(costs.rule[fitted::kRuleLeapTravel], 0.0f);
    fitted::Costs without = costs;
    without.rule[fitted::kRuleLeapTravel] = 0.0f;
    setStartValues();
    createKeyStates();
    const std::string data = QUORVEL_SOURCE_DIR "/data/fingering-train/pieces";
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(data)) {
        paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    long with = 0, plain = 0;
    int leaps = 0, plainLeaps = 0, shorter = 0, longer = 0;
    for (const std::string& path : paths) {
        CorpusPiece piece;
        std::string error;
        ASSERT_TRUE(readCorpusPiece(path, &piece, &error)) << error;
        std::vector<PlacedNote> notes = fillGrids(piece);
        resetPerformance();
        planHandsOptimalWith({}, costs);
        const long a = leapTravel(notes, &leaps);
        notes = fillGrids(piece);
        resetPerformance();
        planHandsOptimalWith({}, without);
        const long b = leapTravel(notes, &plainLeaps);
        with += a;
        plain += b;
        shorter += a < b ? 1 : 0;
        longer += a > b ? 1 : 0;
    }
    ASSERT_EQ(leaps, plainLeaps);
    EXPECT_GE(leaps, 100);
    EXPECT_LT(with, plain) << leaps << " leaps";
    // Piece by piece the rule shortens the leaps far more often than the rest of the plan makes
    // them longer.
    EXPECT_GT(shorter, 2 * longer) << shorter << " pieces shorter, " << longer << " longer";
}

// Scales of many black keys (B, F sharp and D flat major, one octave up and down, both hands)
// keep the thumb on the white keys, as the books finger them; a triad on a black key with white
// and black keys above it takes the thumb on its black key, since the hand spans it no other way.
TEST_F(FittedRules, TheThumbTakesABlackKeyOnlyWhereAChordNeedsIt) {
    const fitted::Costs& costs = fitted::embeddedCosts();
    static const int kSteps[7] = {2, 2, 1, 2, 2, 2, 1};
    for (int32_t tonic : {50, 45, 40}) {  // B4, F#4, C#4 (D flat)
        for (int hand = 0; hand < 2; ++hand) {
            std::vector<int32_t> keys{hand == 0 ? tonic : tonic - 24};
            for (int i = 0; i < 7; ++i) {
                keys.push_back(keys.back() + kSteps[i]);
            }
            for (int i = 6; i >= 0; --i) {
                keys.push_back(keys[i]);
            }
            const std::vector<int> got = plan(hand, keys, costs);
            std::string text;
            for (int f : got) {
                text += static_cast<char>('0' + f);
            }
            for (size_t i = 0; i < keys.size(); ++i) {
                EXPECT_GE(got[i], 1) << text;
                EXPECT_FALSE(got[i] == 1 && isBlackKey(keys[i]))
                    << "tonic " << tonic << " hand " << hand << ": " << text;
            }
        }
    }
    // E flat major and F sharp major triads in root position, struck together.
    for (const std::vector<int32_t>& chord :
         {std::vector<int32_t>{42, 46, 49}, std::vector<int32_t>{45, 49, 52}}) {
        std::vector<NoteEvent> line(4, kEmptyEvent);
        for (int32_t d = 0; d < 4; ++d) {
            for (size_t i = 0; i < chord.size(); ++i) {
                line[d].slot[i] = NoteSlot{chord[i], d == 3 ? 1 : 0};
            }
        }
        rightNotes = line;
        leftNotes.assign(line.size(), kEmptyEvent);
        resetPerformance();
        planHandsOptimalWith({}, costs);
        EXPECT_EQ(rightNotes[0].slot[0].key, chord[0]) << "the thumb on the chord's black key";
        EXPECT_EQ(rightNotes[0].slot[4].key, chord[2]) << "the little finger on its top";
    }
}

}  // namespace
