// Speed of the whole-piece planner: plans both hands of generated scores of 100,000 and 200,000
// notes (melody, intervals, chords and held notes in each hand) and prints notes per second and
// nanoseconds per note for each, so a glance shows whether the time grows linearly with the
// length of the piece.

#include "fingering/optimal_planner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "app/state.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace {

constexpr int kRepeats = 3;

// Chord shapes above a root, -1 ends a shape.
constexpr int kShapes[][4] = {{0, -1, -1, -1}, {0, -1, -1, -1}, {0, -1, -1, -1}, {0, 4, -1, -1},
                              {0, 7, -1, -1},  {0, 12, -1, -1}, {0, 4, 7, -1},   {0, 3, 8, -1},
                              {0, 4, 7, 12},   {0, 5, 9, -1}};

// Appends notes to one hand's grid until it holds `notes` notes; returns the grid's length.
size_t fillHand(std::vector<NoteEvent>& grid, size_t notes, int low, int high, unsigned seed) {
    std::mt19937 random(seed);
    int root = (low + high) / 2;
    size_t placed = 0, t = 0;
    while (placed < notes) {
        root = std::clamp(root + static_cast<int>(random() % 7) - 3, low, high);
        const size_t length = 1 + random() % 4;
        if (grid.size() < t + length) {
            grid.resize(t + length, kEmptyEvent);
        }
        const int* shape = kShapes[random() % (sizeof kShapes / sizeof kShapes[0])];
        for (int i = 0; i < 4 && shape[i] >= 0; ++i, ++placed) {
            for (size_t d = 0; d < length; ++d) {
                grid[t + d].slot[i] = NoteSlot{root + shape[i], d + 1 == length ? 1 : 0};
            }
        }
        t += length;
    }
    return grid.size();
}

}  // namespace

int main() {
    setStartValues();
    createKeyStates();
    divisions = 4;
    for (size_t notes : {100000u, 200000u}) {
        std::vector<NoteEvent> right, left;
        fillHand(right, notes / 2, 39, 70, 1);
        fillHand(left, notes / 2, 10, 38, 2);
        const size_t ticks = std::max(right.size(), left.size());
        right.resize(ticks, kEmptyEvent);
        left.resize(ticks, kEmptyEvent);
        double best = 1e30;
        for (int r = 0; r < kRepeats; ++r) {
            rightNotes = right;
            leftNotes = left;
            const auto start = std::chrono::steady_clock::now();
            planHandsOptimal({});
            const auto end = std::chrono::steady_clock::now();
            best = std::min(best, std::chrono::duration<double>(end - start).count());
        }
        std::printf("%zu notes (%zu ticks): %.3f s, %.0f notes/s, %.0f ns/note\n", notes, ticks,
                    best, notes / best, best * 1e9 / notes);
        std::fflush(stdout);
    }
    return 0;
}
