#pragma once

// Shared by the timeline tests: loading and planning a score, random planned grids, and the
// invariants every timeline must keep, checked on frames sampled over the whole performance.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/planner.h"
#include "geometry/hand_model.h"
#include "geometry/key_layout.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "support/classic_load.h"
#include "timeline/timeline.h"

namespace timeline_test {

inline std::string readFile(const std::string& path) {
    return documentAt(path);
}

// Reads and plans a document the way start-up does; true when the reader accepted it.
inline bool loadAndPlan(const std::string& xml) {
    scanLength = 0;
    return loadAndPlanClassic(xml) == 0;
}

// Planned random grids: chords of one to three notes, lengths from one tick to two quarters,
// never more than five notes or the same key twice in a hand at once.
inline void makeRandomGrids(std::mt19937& rng, int32_t ticksPerQuarter, int32_t ticks) {
    setStartValues();
    rightNotes.assign(ticks, kEmptyEvent);
    leftNotes.assign(ticks, kEmptyEvent);
    const int32_t q = ticksPerQuarter;
    const int32_t lengths[] = {1, std::max(1, q / 4), std::max(1, q / 2), q, 2 * q};
    const int32_t steps[] = {1, std::max(1, q / 4), std::max(1, q / 2), q};
    for (int hand = 0; hand < 2; ++hand) {
        std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
        const int32_t low = hand == 0 ? 39 : 15;
        for (int32_t t = 0; t < ticks; t += steps[rng() % 4]) {
            if (rng() % 5 == 0) {
                continue;  // a rest
            }
            const int32_t length = std::min(lengths[rng() % 5], ticks - t);
            const int chord = 1 + static_cast<int>(rng() % 3);
            for (int c = 0; c < chord; ++c) {
                const int32_t key = low + static_cast<int32_t>(rng() % 30);
                bool fits = true;
                for (int32_t u = t; u < t + length && fits; ++u) {
                    int used = 0;
                    for (const NoteSlot& s : grid[u].slot) {
                        used += s.key != kNoKey;
                        fits = fits && s.key != key;
                    }
                    fits = fits && used < kSlotCount;
                }
                // Nor may it join a note of the same key ending just before.
                fits = fits &&
                       !(t > 0 && std::any_of(std::begin(grid[t - 1].slot),
                                              std::end(grid[t - 1].slot), [&](const NoteSlot& s) {
                                                  return s.key == key && s.lastTick == 0;
                                              }));
                for (int32_t u = t; u < t + length && fits; ++u) {
                    for (NoteSlot& s : grid[u].slot) {
                        if (s.key == kNoKey) {
                            s = NoteSlot{key, u == t + length - 1 ? 1 : 0};
                            break;
                        }
                    }
                }
            }
        }
    }
    divisions = ticksPerQuarter;
    scanLength = 4 * ticksPerQuarter;
    createKeyStates();
    planRightHand();
    planLeftHand();
}

inline bool finite(const PerformanceFrame& f) {
    for (float a : f.keyAngle) {
        if (!std::isfinite(a)) {
            return false;
        }
    }
    for (const HandState* h : {&f.right, &f.left}) {
        const float* v = &h->position.x;
        for (int i = 0; i < 18; ++i) {
            if (!std::isfinite(v[i])) {
                return false;
            }
        }
    }
    return true;
}

// Checks every invariant of a timeline built from the current grids and plans; samples at most
// `maxNotes` notes' key edges besides a regular sweep.
inline void expectInvariants(const Timeline& tl, size_t maxNotes = 4000) {
    const TimelineOptions& o = tl.options;
    const double start = tickToSeconds(tl.timing, o.fromTick);
    auto expectedTime = [&](int32_t tick) {
        return o.leadIn + (tickToSeconds(tl.timing, tick) - start) / o.speed;
    };
    // Every note sits on the tempo map; the slots of the range are all covered by notes.
    size_t slotsInNotes = 0;
    for (size_t i = 0; i < tl.notes.size(); ++i) {
        const TimedNote& n = tl.notes[i];
        ASSERT_NEAR(n.onset, expectedTime(n.tick), 1e-9) << "note " << i;
        ASSERT_NEAR(n.release, expectedTime(n.endTick), 1e-9) << "note " << i;
        ASSERT_GE(n.release, n.onset);
        ASSERT_GE(n.keyUp, n.onset);
        ASSERT_TRUE(i == 0 || tl.notes[i - 1].onset <= n.onset);
        slotsInNotes += static_cast<size_t>(n.endTick - n.tick);
    }
    size_t slotsInGrid = 0;
    for (const std::vector<NoteEvent>* grid : {&rightNotes, &leftNotes}) {
        for (int32_t t = o.fromTick; t < o.toTick; ++t) {
            std::vector<int32_t> keys;
            for (const NoteSlot& s : (*grid)[t].slot) {
                if (s.key >= 0 && s.key < kKeyCount) {
                    keys.push_back(s.key);
                }
            }
            std::sort(keys.begin(), keys.end());
            slotsInGrid +=
                static_cast<size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
        }
    }
    ASSERT_EQ(slotsInNotes, slotsInGrid);
    // Frames: a regular sweep plus the edges of notes.
    std::vector<double> samples;
    for (int i = 0; i <= 600; ++i) {
        samples.push_back(tl.duration * i / 600.0);
    }
    for (size_t i = 0; i < tl.notes.size() && i < maxNotes; ++i) {
        const TimedNote& n = tl.notes[i];
        for (double s : {n.onset - 1e-7, n.onset, n.onset + 1e-7, (n.onset + n.keyUp) / 2,
                         n.keyUp - 1e-7, n.keyUp + 1e-7}) {
            samples.push_back(s);
        }
    }
    // Each hand's onsets (tick order) and the plan there.
    std::vector<double> onsets[2];
    std::vector<float> planned[2];
    for (const TimedNote& n : tl.notes) {
        const HandPlan& plan = n.hand == 0 ? rightPlan : leftPlan;
        if (onsets[n.hand].empty() || onsets[n.hand].back() != n.onset) {
            onsets[n.hand].push_back(n.onset);
            planned[n.hand].push_back(plan[n.tick]);
        }
    }
    PerformanceFrame frame;
    for (double s : samples) {
        performanceAt(tl, s, &frame);
        ASSERT_TRUE(finite(frame)) << "at " << s;
        // Each key is down exactly while a note holds it.
        for (int32_t key = 0; key < kKeyCount; ++key) {
            bool held = false;
            for (size_t i : tl.keyNotes[key]) {
                held = held || (tl.notes[i].onset < s && s < tl.notes[i].keyUp);
            }
            ASSERT_EQ(frame.keyAngle[key] > 0.0f, held) << "key " << key << " at " << s;
            ASSERT_LE(frame.keyAngle[key], 10.0f);
        }
        // The drawing's own aiming changes nothing: the picture is the frame.
        applyFrame(frame);
        aimHand(rightMirror);
        aimHand(leftMirror);
        ASSERT_EQ(std::memcmp(&rightHand, &frame.right, sizeof(HandState)), 0) << "at " << s;
        ASSERT_EQ(std::memcmp(&leftHand, &frame.left, sizeof(HandState)), 0) << "at " << s;
        for (int hand = 0; hand < 2; ++hand) {
            const HandState& h = hand == 0 ? frame.right : frame.left;
            const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
            // Every fingertip of a sounding note is over its key.
            if (frame.tick >= o.fromTick && frame.tick < o.toTick) {
                for (int k = 0; k < kSlotCount; ++k) {
                    const int32_t key = grid[frame.tick].slot[k].key;
                    if (key >= 0 && key < kKeyCount) {
                        ASSERT_NEAR(h.position.x + h.fingers[k].x, KeyLayout[key].x, 1e-5);
                    }
                }
            }
            // The hand stands on its plan at each onset and moves only between onsets.
            const std::vector<double>& on = onsets[hand];
            auto it = std::upper_bound(on.begin(), on.end(), s);
            if (it != on.begin()) {
                const size_t i = static_cast<size_t>(it - on.begin()) - 1;
                const float a = planned[hand][i];
                const float b = it == on.end() ? a : planned[hand][i + 1];
                if (on[i] == s) {
                    ASSERT_EQ(h.position.x, a) << "hand " << hand << " at its onset " << s;
                }
                ASSERT_GE(h.position.x, std::min(a, b) - 1e-6f);
                ASSERT_LE(h.position.x, std::max(a, b) + 1e-6f);
            }
        }
    }
}

}  // namespace timeline_test
