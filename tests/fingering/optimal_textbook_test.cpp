// Textbook fingerings from the whole-piece planner. The expected fingerings are the standard
// scale, arpeggio and chromatic fingerings taught in common piano method books (fingers written
// 1 thumb .. 5 little finger, as the books print them); where the books teach more than one,
// each of them is accepted.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/optimal_planner.h"
#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace {

using Fingers = std::vector<int>;

// Ticks every note of a line lasts.
constexpr int32_t kNoteTicks = 2;

// Key number of a note name such as "C4", "F#3" or "Bb2" (C4 is key 39).
int32_t keyOf(const std::string& name) {
    static const int kStep[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G from C
    int32_t semitone = kStep[name[0] - 'A'];
    size_t i = 1;
    for (; name[i] == '#' || name[i] == 'b'; ++i) {
        semitone += name[i] == '#' ? 1 : -1;
    }
    const int octave = std::stoi(name.substr(i));
    return 12 * octave + semitone - 9;
}

// The keys of a major scale from `tonic` over `octaves` octaves, up and back down.
std::vector<int32_t> majorScale(const std::string& tonic, int octaves) {
    static const int kSteps[7] = {2, 2, 1, 2, 2, 2, 1};
    std::vector<int32_t> keys{keyOf(tonic)};
    for (int i = 0; i < 7 * octaves; ++i) {
        keys.push_back(keys.back() + kSteps[i % 7]);
    }
    for (int i = static_cast<int>(keys.size()) - 2; i >= 0; --i) {
        keys.push_back(keys[i]);
    }
    return keys;
}

// The same fingers forwards then backwards, the turning note once: a fingering up and down.
Fingers upAndDown(const Fingers& up) {
    Fingers all = up;
    all.insert(all.end(), up.rbegin() + 1, up.rend());
    return all;
}

class OptimalTextbook : public ::testing::Test {
protected:
    void SetUp() override {
        buildKeyLayout();
        resetPerformance();
        divisions = 2;
    }

    // Puts a legato line into one hand's grid (the other hand rests), plans, and returns the
    // finger (1..5) of every note; 0 for a note that lost its key.
    Fingers plan(int hand, const std::vector<int32_t>& keys) {
        std::vector<NoteEvent> line(keys.size() * kNoteTicks, kEmptyEvent);
        for (size_t i = 0; i < keys.size(); ++i) {
            for (int32_t d = 0; d < kNoteTicks; ++d) {
                line[i * kNoteTicks + d].slot[0] = NoteSlot{keys[i], d + 1 == kNoteTicks ? 1 : 0};
            }
        }
        const std::vector<NoteEvent> rest(line.size(), kEmptyEvent);
        rightNotes = hand == 0 ? line : rest;
        leftNotes = hand == 0 ? rest : line;
        planHandsOptimal({});
        const std::vector<NoteEvent>& planned = hand == 0 ? rightNotes : leftNotes;
        Fingers fingers;
        for (size_t i = 0; i < keys.size(); ++i) {
            int finger = 0;
            for (int d = 0; d < kNoteTicks; ++d) {
                int here = 0;
                for (int k = 0; k < kSlotCount; ++k) {
                    if (planned[i * kNoteTicks + d].slot[k].key == keys[i]) {
                        here = k + 1;
                    }
                }
                // A held note keeps its finger for as long as it sounds.
                EXPECT_TRUE(d == 0 || here == finger) << "note " << i << " changed finger";
                finger = d == 0 ? here : finger;
            }
            fingers.push_back(finger);
        }
        return fingers;
    }

    // Puts chords one after another into one hand's grid (each held kChordTicks, without a rest
    // between them), plans, and returns the fingers (1..5) of every chord from its lowest key up.
    std::vector<Fingers> planChords(int hand, const std::vector<std::vector<int32_t>>& chords) {
        constexpr int32_t kChordTicks = 4;
        std::vector<NoteEvent> line(chords.size() * kChordTicks, kEmptyEvent);
        for (size_t c = 0; c < chords.size(); ++c) {
            for (int32_t d = 0; d < kChordTicks; ++d) {
                for (size_t i = 0; i < chords[c].size(); ++i) {
                    line[c * kChordTicks + d].slot[i] =
                        NoteSlot{chords[c][i], d + 1 == kChordTicks ? 1 : 0};
                }
            }
        }
        const std::vector<NoteEvent> rest(line.size(), kEmptyEvent);
        rightNotes = hand == 0 ? line : rest;
        leftNotes = hand == 0 ? rest : line;
        planHandsOptimal({});
        const std::vector<NoteEvent>& planned = hand == 0 ? rightNotes : leftNotes;
        std::vector<Fingers> all;
        for (size_t c = 0; c < chords.size(); ++c) {
            Fingers fingers;
            for (int32_t key : chords[c]) {
                int finger = 0;
                for (int k = 0; k < kSlotCount; ++k) {
                    finger = planned[c * kChordTicks].slot[k].key == key ? k + 1 : finger;
                }
                fingers.push_back(finger);
            }
            all.push_back(fingers);
        }
        return all;
    }
};

std::string text(const Fingers& fingers) {
    std::string s;
    for (int f : fingers) {
        s += static_cast<char>('0' + f);
    }
    return s;
}

// True when `got` is one of the accepted fingerings.
::testing::AssertionResult isOneOf(const Fingers& got, const std::vector<Fingers>& accepted) {
    for (const Fingers& a : accepted) {
        if (got == a) {
            return ::testing::AssertionSuccess();
        }
    }
    std::string list;
    for (const Fingers& a : accepted) {
        list += " " + text(a);
    }
    return ::testing::AssertionFailure() << "got " << text(got) << ", books give" << list;
}

// Passes of the thumb under a finger or of a finger over the thumb in a fingered line.
int crossings(int hand, const std::vector<int32_t>& keys, const Fingers& fingers) {
    int count = 0;
    for (size_t i = 1; i < keys.size(); ++i) {
        const bool thumbFirst = fingers[i - 1] == 1 && fingers[i] != 1;
        const bool thumbSecond = fingers[i] == 1 && fingers[i - 1] != 1;
        if (!thumbFirst && !thumbSecond) {
            continue;
        }
        const int32_t thumbKey = thumbFirst ? keys[i - 1] : keys[i];
        const int32_t otherKey = thumbFirst ? keys[i] : keys[i - 1];
        count += (hand == 0 ? thumbKey > otherKey : thumbKey < otherKey) ? 1 : 0;
    }
    return count;
}

bool thumbOnBlack(const std::vector<int32_t>& keys, const Fingers& fingers) {
    for (size_t i = 0; i < keys.size(); ++i) {
        if (fingers[i] == 1 && isBlackKey(keys[i])) {
            return true;
        }
    }
    return false;
}

TEST_F(OptimalTextbook, MajorScalesOfCGDAndFInBothHands) {
    struct Case {
        const char* rightTonic;
        const char* leftTonic;
        Fingers right1, right2, left1;  // one and two octaves, going up
    };
    const Fingers rightC1 = {1, 2, 3, 1, 2, 3, 4, 5};
    const Fingers rightC2 = {1, 2, 3, 1, 2, 3, 4, 1, 2, 3, 1, 2, 3, 4, 5};
    const Fingers leftC1 = {5, 4, 3, 2, 1, 3, 2, 1};
    // F major: the right hand's fourth finger takes B flat, so the thumb never lands on it.
    const Fingers rightF1 = {1, 2, 3, 4, 1, 2, 3, 4};
    const Fingers rightF2 = {1, 2, 3, 4, 1, 2, 3, 1, 2, 3, 4, 1, 2, 3, 4};
    const Case cases[] = {
        {"C4", "C3", rightC1, rightC2, leftC1},
        {"G4", "G2", rightC1, rightC2, leftC1},
        {"D4", "D3", rightC1, rightC2, leftC1},
        {"F4", "F2", rightF1, rightF2, leftC1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rightTonic);
        EXPECT_TRUE(isOneOf(plan(0, majorScale(c.rightTonic, 1)), {upAndDown(c.right1)}));
        EXPECT_TRUE(isOneOf(plan(0, majorScale(c.rightTonic, 2)), {upAndDown(c.right2)}));
        EXPECT_TRUE(isOneOf(plan(1, majorScale(c.leftTonic, 1)), {upAndDown(c.left1)}));
        // Two octaves in the left hand: the books repeat the one-octave pattern with the fourth
        // finger on the second degree (5 4 3 2 1 3 2 1 4 3 2 1 3 2 1). The planner has no notion
        // of a pattern repeating per octave, so where it places the fourth finger's crossing may
        // differ; what the books' fingering is made of must hold: the little finger on the
        // bottom note at both ends, the thumb on the top one, the thumb never on a black key, and
        // no more passes of the thumb than the books' three each way.
        const std::vector<int32_t> keys = majorScale(c.leftTonic, 2);
        const Fingers got = plan(1, keys);
        EXPECT_EQ(got.front(), 5) << text(got);
        EXPECT_EQ(got.back(), 5) << text(got);
        EXPECT_EQ(got[keys.size() / 2], 1) << text(got);
        EXPECT_FALSE(thumbOnBlack(keys, got)) << text(got);
        EXPECT_EQ(crossings(1, keys, got), 6) << text(got);
        EXPECT_TRUE(isOneOf(got, {upAndDown({5, 4, 3, 2, 1, 3, 2, 1, 4, 3, 2, 1, 3, 2, 1})}));
    }
}

TEST_F(OptimalTextbook, CMajorArpeggioOverTwoOctaves) {
    std::vector<int32_t> right, left;
    for (const char* n : {"C4", "E4", "G4", "C5", "E5", "G5", "C6"}) {
        right.push_back(keyOf(n));
        left.push_back(keyOf(n) - 24);
    }
    const std::vector<int32_t> rightRun(right.begin(), right.end());
    std::vector<int32_t> rightUpDown = rightRun, leftUpDown = left;
    rightUpDown.insert(rightUpDown.end(), rightRun.rbegin() + 1, rightRun.rend());
    leftUpDown.insert(leftUpDown.end(), left.rbegin() + 1, left.rend());
    EXPECT_TRUE(isOneOf(plan(0, rightUpDown),
                        {upAndDown({1, 2, 3, 1, 2, 3, 5}), upAndDown({1, 2, 4, 1, 2, 4, 5})}));
    EXPECT_TRUE(isOneOf(plan(1, leftUpDown),
                        {upAndDown({5, 4, 2, 1, 4, 2, 1}), upAndDown({5, 3, 2, 1, 3, 2, 1})}));
}

TEST_F(OptimalTextbook, FiveFingerPosition) {
    std::vector<int32_t> right, left;
    for (const char* n : {"C4", "D4", "E4", "F4", "G4", "F4", "E4", "D4", "C4"}) {
        right.push_back(keyOf(n));
        left.push_back(keyOf(n) - 12);
    }
    EXPECT_TRUE(isOneOf(plan(0, right), {{1, 2, 3, 4, 5, 4, 3, 2, 1}}));
    EXPECT_TRUE(isOneOf(plan(1, left), {{5, 4, 3, 2, 1, 2, 3, 4, 5}}));
}

std::vector<int32_t> keysOf(const std::vector<std::string>& names, int octaves = 0) {
    std::vector<int32_t> keys;
    for (const std::string& n : names) {
        keys.push_back(keyOf(n) + 12 * octaves);
    }
    return keys;
}

// Triads and four-key chords, root position and inversions, alone and one after another, as the
// method books finger them (lowest key first; the left hand a fourth below middle C and lower).
TEST_F(OptimalTextbook, ChordsAsTheBooksFingerThem) {
    struct Case {
        std::vector<std::string> keys;
        std::vector<Fingers> right;  // accepted right-hand fingerings
        std::vector<Fingers> left;   // accepted left-hand fingerings, an octave lower
    };
    const std::vector<Case> cases = {
        {{"C4", "E4", "G4"}, {{1, 3, 5}}, {{5, 3, 1}}},
        {{"E4", "G4", "C5"}, {{1, 2, 5}}, {{5, 3, 1}}},
        {{"G4", "C5", "E5"}, {{1, 3, 5}}, {{5, 2, 1}}},
        {{"A4", "C5", "E5"}, {{1, 3, 5}}, {{5, 3, 1}}},
        {{"D4", "F#4", "A4"}, {{1, 3, 5}}, {{5, 3, 1}}},
        {{"F4", "A4", "C5"}, {{1, 3, 5}}, {{5, 3, 1}}},
        {{"G4", "B4", "D5"}, {{1, 3, 5}}, {{5, 3, 1}}},
        {{"Eb4", "G4", "Bb4"}, {{1, 3, 5}}, {{5, 3, 1}}},
        {{"C4", "E4", "G4", "C5"}, {{1, 2, 3, 5}}, {{5, 4, 2, 1}}},
        {{"E4", "G4", "C5", "E5"}, {{1, 2, 4, 5}}, {{5, 3, 2, 1}, {5, 4, 2, 1}}},
        {{"G4", "C5", "E5", "G5"}, {{1, 2, 3, 5}}, {{5, 3, 2, 1}}},
        {{"G4", "B4", "D5", "F5"}, {{1, 2, 3, 5}}, {{5, 4, 2, 1}, {5, 3, 2, 1}}},
        {{"C4", "E4", "G4", "Bb4"}, {{1, 2, 3, 5}}, {{5, 4, 2, 1}, {5, 3, 2, 1}}},
    };
    std::vector<std::vector<int32_t>> rightRow, leftRow;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys.front() + "-" + c.keys.back());
        const std::vector<int32_t> right = keysOf(c.keys);
        const std::vector<int32_t> left = keysOf(c.keys, -1);
        EXPECT_TRUE(isOneOf(planChords(0, {right}).front(), c.right));
        EXPECT_TRUE(isOneOf(planChords(1, {left}).front(), c.left));
        rightRow.push_back(right);
        leftRow.push_back(left);
    }
    // Played one after another, each chord keeps the books' fingering.
    const std::vector<Fingers> right = planChords(0, rightRow);
    const std::vector<Fingers> left = planChords(1, leftRow);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].keys.front() + "-" + cases[i].keys.back() + " in a row");
        EXPECT_TRUE(isOneOf(right[i], cases[i].right));
        EXPECT_TRUE(isOneOf(left[i], cases[i].left));
    }
}

TEST_F(OptimalTextbook, ChromaticScaleKeepsTheThumbOnWhiteKeys) {
    std::vector<int32_t> right, left;
    for (int32_t k = keyOf("C4"); k <= keyOf("C5"); ++k) {
        right.push_back(k);
        left.push_back(k - 12);
    }
    for (int32_t k = keyOf("B4"); k >= keyOf("C4"); --k) {
        right.push_back(k);
        left.push_back(k - 12);
    }
    // The books put the thumb on the white keys and the third finger on the black keys between
    // them, so the hand stays in place: the thumb takes every white key that lies between two
    // black keys (D, G and A) and never a black key, and no black key goes to the little finger.
    for (int hand = 0; hand < 2; ++hand) {
        SCOPED_TRACE(hand);
        const std::vector<int32_t>& keys = hand == 0 ? right : left;
        const Fingers got = plan(hand, keys);
        EXPECT_FALSE(thumbOnBlack(keys, got)) << text(got);
        int thirdOnBlack = 0, black = 0;
        for (size_t i = 0; i < keys.size(); ++i) {
            const bool between = isBlackKey(keys[i] - 1) && isBlackKey(keys[i] + 1);
            EXPECT_TRUE(!between || got[i] == 1) << "note " << i << ": " << text(got);
            EXPECT_TRUE(!isBlackKey(keys[i]) || got[i] != 5) << "note " << i << ": " << text(got);
            black += isBlackKey(keys[i]) ? 1 : 0;
            thirdOnBlack += isBlackKey(keys[i]) && got[i] == 3 ? 1 : 0;
        }
        // Most black keys by the third finger, as in the books (the ends may differ).
        EXPECT_GE(thirdOnBlack * 4, black * 3) << text(got);
    }
}

}  // namespace
