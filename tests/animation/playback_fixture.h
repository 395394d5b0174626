#pragma once

// Shared by the animation and the application tests: a small hand-made score, and a platform
// whose functions record what the program asked of the window system.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "animation/animation.h"
#include "app/platform.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace playback_test {

// A note slot; lastTick 1 ends the note with its tick.
inline NoteSlot note(int key, int lastTick = 1) {
    return NoteSlot{key, lastTick};
}

// A tick record with the given slots (finger order), the rest empty.
inline NoteEvent event(std::initializer_list<NoteSlot> slots) {
    NoteEvent e = kEmptyEvent;
    int k = 0;
    for (const NoteSlot& s : slots) {
        e.slot[k++] = s;
    }
    return e;
}

// One timer the program armed.
struct ArmedTimer {
    int delayMs;
    void (*callback)(int);
    int value;
};

// What the program asked of the window system since the last clear().
struct PlatformLog {
    std::vector<ArmedTimer> timers;
    int redisplays = 0;
    std::vector<int> exits;
    int idleWaits = 0;
    void clear() { *this = PlatformLog{}; }
};

inline PlatformLog& platformLog() {
    static PlatformLog log;
    return log;
}

inline void recordTimer(int delayMs, void (*callback)(int), int value) {
    platformLog().timers.push_back({delayMs, callback, value});
}
inline void recordRedisplay() {
    ++platformLog().redisplays;
}
inline void recordExit(int status) {
    platformLog().exits.push_back(status);
}
inline void recordIdleWait() {
    ++platformLog().idleWaits;
}

// Installs the recording platform and a fresh program state; puts everything back afterwards.
class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPlatform_ = platform;
        platform = Platform{recordTimer, recordRedisplay, recordExit, recordIdleWait};
        platformLog().clear();
        buildKeyLayout();
        keyStates.assign(kKeyCount, KeyState{0.0f, 0, 0});
        rightNotes.clear();
        leftNotes.clear();
        rightPlan.clear();
        leftPlan.clear();
        timerInterval = 1;
        divisions = 4;
        scanLength = 16;
        resetPerformance();
    }

    void TearDown() override {
        platform = savedPlatform_;
        rightNotes.clear();
        leftNotes.clear();
        rightPlan.clear();
        leftPlan.clear();
    }

    // Install a score: both grids and both plans. Grids of unequal length are padded with
    // empty ticks; missing plan entries repeat the hands' start positions.
    void setScore(std::vector<NoteEvent> right, std::vector<NoteEvent> left,
                  std::vector<float> rPlan = {}, std::vector<float> lPlan = {}) {
        size_t n = std::max(right.size(), left.size());
        right.resize(n, kEmptyEvent);
        left.resize(n, kEmptyEvent);
        rPlan.resize(n, 1.3f);
        lPlan.resize(n, -1.3f);
        rightNotes = right;
        leftNotes = left;
        rightPlan = rPlan;
        leftPlan = lPlan;
    }

    // A score of n empty ticks.
    void setEmptyScore(int n) { setScore(std::vector<NoteEvent>(n, kEmptyEvent), {}); }

    PlatformLog& log() { return platformLog(); }

private:
    Platform savedPlatform_{};
};

}  // namespace playback_test
