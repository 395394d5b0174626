#include "fingering/planner.h"

#include <algorithm>
#include <cstddef>

#include "animation/animation.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

std::vector<int32_t> rightFallbackTicks;
std::vector<int32_t> leftFallbackTicks;

namespace {

// Narrowest and widest hand window, in keys.
constexpr int32_t kMinWidth = 8;
constexpr int32_t kMaxWidth = 13;
// Fingers of one hand, and so finger regions.
constexpr int kPositions = 5;

// Where each finger region starts, as an offset from the window's lowest key, for windows of 8
// to 13 keys (row = width - 8), positions counted from the low end of the keyboard. The middle
// finger takes the slack first, then the index and ring fingers; the thumb and little finger
// keep the narrowest regions.
constexpr int32_t kRegionOffsets[kMaxWidth - kMinWidth + 1][kPositions] = {
    {0, 1, 3, 5, 7},   // 8 keys:  1, 2, 2, 2, 1
    {0, 1, 3, 6, 8},   // 9 keys:  1, 2, 3, 2, 1
    {0, 2, 4, 6, 8},   // 10 keys: 2, 2, 2, 2, 2
    {0, 2, 4, 7, 9},   // 11 keys: 2, 2, 3, 2, 2
    {0, 2, 4, 8, 10},  // 12 keys: 2, 2, 4, 2, 2
    {0, 2, 5, 8, 11},  // 13 keys: 2, 3, 3, 3, 2
};

// Everything in which the two hands' runs differ. The procedure itself is shared.
struct HandDescription {
    std::vector<NoteEvent>* grid;         // the hand's tick grid, rewritten in place
    HandPlan* plan;                       // the hand's centre per tick, rebuilt
    std::vector<int32_t>* fallbackTicks;  // ticks whose notes needed the fallback, rebuilt
    int fingerAt[kPositions];             // finger (slot) at each position, low to high
    int copyOrder[kPositions];            // order in which slots are gathered before sorting
    int fallbackOrder[kPositions];        // slots from the one overwritten to the one refilled
    float restX;                          // centre while the hand has not played yet: where the
                                          // reset puts it, so it does not jump off the keyboard
};

const HandDescription kRightHand = {&rightNotes,      &rightPlan,      &rightFallbackTicks,
                                    {0, 1, 2, 3, 4},  {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4},
                                    kRightHandStart.x};
const HandDescription kLeftHand = {&leftNotes,      &leftPlan,       &leftFallbackTicks,
                                   {4, 3, 2, 1, 0}, {4, 3, 2, 1, 0}, {4, 3, 2, 1, 0},
                                   kLeftHandStart.x};

bool isKeyOnKeyboard(int32_t key) {
    return key >= 0 && key < kKeyCount;
}

// The window length actually used. The commands keep scanLength at one quarter note or more;
// should anything else ever arrive, one quarter note (or one tick when even divisions is
// unknown) keeps the pass moving forward instead of looping on the same window.
size_t effectiveScanLength() {
    if (scanLength >= 1) {
        return static_cast<size_t>(scanLength);
    }
    return divisions >= 1 ? static_cast<size_t>(divisions) : 1;
}

// Centre of the window low..high. While the hand has met no note yet (low past the top key) it
// gets the rest x for now; a window that reaches above C8 is centred on the keys that exist.
float windowCenter(int32_t low, int32_t high, float restX) {
    if (low >= kKeyCount) {
        return restX;
    }
    int32_t lowKey = std::clamp(low, 0, kKeyCount - 1);
    int32_t highKey = std::clamp(high, lowKey, kKeyCount - 1);
    float center = (KeyLayout[highKey].x + KeyLayout[lowKey].x) / 2.0f;
    return center;
}

void planHand(const HandDescription& hand) {
    std::vector<NoteEvent>& grid = *hand.grid;
    HandPlan& plan = *hand.plan;
    const size_t n = grid.size();
    const size_t window = effectiveScanLength();

    plan.clear();
    plan.reserve(n);
    hand.fallbackTicks->clear();

    int32_t minKey = kKeyCount;
    // First tick of the first window in which the hand has a note; n while there is none.
    size_t firstPlayed = n;

    // Region starts by finger; -1 closes a region. The hand decides which finger sits at which
    // position, so the positions reach them through regionStart.
    int32_t t_span = -1, i_span = -1, m_span = -1, r_span = -1, p_span = -1;
    int32_t* const spanOfFinger[kPositions] = {&t_span, &i_span, &m_span, &r_span, &p_span};
    int32_t* regionStart[kPositions];
    for (int position = 0; position < kPositions; ++position) {
        regionStart[position] = spanOfFinger[hand.fingerAt[position]];
    }

    NoteSlot tempN[kPositions];
    NoteSlot temp;

    for (size_t s = 0; s < n; s += window) {
        // `window` may be as large as INT32_MAX; n - s cannot overflow where s + window could.
        const size_t end = s + std::min(window, n - s);

        for (size_t t = s; t < end; ++t) {
            for (const NoteSlot& slot : grid[t].slot) {
                if (isKeyOnKeyboard(slot.key) && slot.key < minKey) {
                    minKey = slot.key;
                }
            }
        }
        if (minKey < kKeyCount && firstPlayed == n) {
            firstPlayed = s;
        }
        int32_t low = minKey;
        int32_t high = minKey + (kMinWidth - 1);

        for (size_t t = s; t < end; ++t) {
            NoteEvent& event = grid[t];

            // Gather the tick's notes and empty its slots; the slots keep their lastTick.
            for (int i = 0; i < kPositions; ++i) {
                tempN[i] = event.slot[hand.copyOrder[i]];
                // A key off the keyboard cannot be played: treat it as an empty slot.
                if (!isKeyOnKeyboard(tempN[i].key)) {
                    tempN[i].key = kNoKey;
                }
            }
            for (NoteSlot& slot : event.slot) {
                slot.key = kNoKey;
            }

            for (int i = 0; i < kPositions - 1; ++i) {
                for (int j = i + 1; j < kPositions; ++j) {
                    if (tempN[j].key < tempN[i].key) {
                        temp = tempN[i];
                        tempN[i] = tempN[j];
                        tempN[j] = temp;
                    }
                }
            }

            // Fit the window: widen downwards to the lowest note, upwards to the highest, and
            // let the far end follow when the span would exceed the widest hand.
            int32_t lowestKey = kNoKey;
            for (const NoteSlot& note : tempN) {
                if (note.key != kNoKey) {
                    lowestKey = note.key;
                    break;
                }
            }
            if (lowestKey != kNoKey && lowestKey < low) {
                low = lowestKey;
                if (high > low + (kMaxWidth - 1)) {
                    high = low + (kMaxWidth - 1);
                }
            }
            if (tempN[kPositions - 1].key > high) {
                high = tempN[kPositions - 1].key;
                if (low < high - (kMaxWidth - 1)) {
                    low = high - (kMaxWidth - 1);
                }
            }
            const int32_t width = high - low + 1;

            const float center = windowCenter(low, high, hand.restX);
            plan.push_back(center);

            const int row = std::clamp(width, kMinWidth, kMaxWidth) - kMinWidth;
            for (int position = 0; position < kPositions; ++position) {
                *regionStart[position] = low + kRegionOffsets[row][position];
            }

            for (const NoteSlot& note : tempN) {
                if (note.key == kNoKey) {
                    continue;
                }
                const int32_t k = note.key;
                int taker = -1;
                for (int j = 0; j < kPositions && taker < 0; ++j) {
                    const int32_t start = *regionStart[j];
                    if (start == -1 || k < start) {
                        continue;
                    }
                    const bool holds = j < kPositions - 1 ? k < *regionStart[j + 1] : k <= high;
                    if (holds) {
                        taker = j;
                    }
                }

                if (taker >= 0) {
                    event.slot[hand.fingerAt[taker]] = note;
                    if (taker < kPositions - 1) {
                        *regionStart[taker + 1] = k + 1;
                    }
                    for (int j = 0; j <= taker; ++j) {
                        *regionStart[j] = -1;
                    }
                } else {
                    // No finger can take it: the hand shifts every note one finger towards the
                    // low end, dropping the lowest finger's note, and the highest finger plays
                    // the new one.
                    for (int q = 0; q < kPositions - 1; ++q) {
                        event.slot[hand.fallbackOrder[q]] = event.slot[hand.fallbackOrder[q + 1]];
                    }
                    event.slot[hand.fallbackOrder[kPositions - 1]] = note;
                    hand.fallbackTicks->push_back(static_cast<int32_t>(t));
                }
            }
        }
    }

    // Ticks before the hand's first note wait where the hand will first play.
    if (firstPlayed < n) {
        std::fill(plan.begin(), plan.begin() + static_cast<std::ptrdiff_t>(firstPlayed),
                  plan[firstPlayed]);
    }
}

}  // namespace

void planRightHand() {
    planHand(kRightHand);
}

void planLeftHand() {
    planHand(kLeftHand);
}

namespace {
void planBothHands() {
    planRightHand();
    planLeftHand();
}
}  // namespace

void (*replanHands)() = planBothHands;
