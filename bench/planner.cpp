// Planner throughput: plans both hands over grids of 2.5, 5 and 10 million ticks of
// score-like content and prints ticks per second and nanoseconds per tick for each size, so a
// glance shows whether the cost grows linearly with the length of the score.

#include "fingering/planner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "geometry/key_layout.h"
#include "score/score_model.h"

namespace {

// Ticks per quarter note of the generated score.
constexpr int32_t kBenchDivisions = 4;
// Timed runs per size; the fastest is reported.
constexpr int kRepeats = 3;

// Shapes of what a hand plays at once, as intervals above the lowest note: single notes,
// intervals, octaves, triads and their inversions, open chords.
constexpr int kShapes[][4] = {
    {0, -1, -1, -1}, {0, -1, -1, -1}, {0, -1, -1, -1}, {0, 4, -1, -1}, {0, 3, -1, -1},
    {0, 7, -1, -1},  {0, 12, -1, -1}, {0, 4, 7, -1},   {0, 3, 7, -1},  {0, 3, 8, -1},
    {0, 5, 9, -1},   {0, 4, 7, 12},   {0, 7, 12, -1},  {0, 3, 5, 9},
};
constexpr int kShapeCount = sizeof(kShapes) / sizeof(kShapes[0]);

// A hand that moves stepwise and by leaps over its half of the keyboard: rests, melody notes
// and chords, each lasting one to eight ticks.
std::vector<NoteEvent> scoreLikeGrid(size_t n, int lowestRoot, int highestRoot, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<NoteEvent> grid(n, kEmptyEvent);
    int root = (lowestRoot + highestRoot) / 2;
    for (size_t t = 0; t < n;) {
        const int move = random() % 8 == 0 ? static_cast<int>(random() % 15) - 7
                                           : static_cast<int>(random() % 5) - 2;
        root = std::clamp(root + move, lowestRoot, highestRoot);
        const size_t length = 1 + random() % 8;
        if (random() % 6 != 0) {
            const int* shape = kShapes[random() % kShapeCount];
            for (int i = 0; i < 4 && shape[i] >= 0; ++i) {
                for (size_t d = 0; d < length && t + d < n; ++d) {
                    grid[t + d].slot[i] = NoteSlot{root + shape[i], d + 1 == length ? 1 : 0};
                }
            }
        }
        t += length;
    }
    return grid;
}

}  // namespace

int main() {
    buildKeyLayout();
    divisions = kBenchDivisions;
    scanLength = 4 * kBenchDivisions;

    std::printf("planner throughput, both hands, scan length %d ticks, best of %d\n", scanLength,
                kRepeats);
    std::printf("%12s %14s %12s %12s\n", "ticks", "seconds", "ticks/s", "ns/tick");
    std::fflush(stdout);
    double firstNsPerTick = 0;
    for (size_t n : {2500000u, 5000000u, 10000000u}) {
        const std::vector<NoteEvent> right = scoreLikeGrid(n, 40, 75, 1);
        const std::vector<NoteEvent> left = scoreLikeGrid(n, 3, 35, 2);
        double best = 1e30;
        for (int r = 0; r < kRepeats; ++r) {
            rightNotes = right;
            leftNotes = left;
            const auto start = std::chrono::steady_clock::now();
            planRightHand();
            planLeftHand();
            const auto stop = std::chrono::steady_clock::now();
            best = std::min(best, std::chrono::duration<double>(stop - start).count());
        }
        // Both hands' ticks count: each is one full pass of the procedure.
        const double ticks = 2.0 * static_cast<double>(n);
        const double nsPerTick = best * 1e9 / ticks;
        if (firstNsPerTick == 0) {
            firstNsPerTick = nsPerTick;
        }
        std::printf("%12zu %14.4f %12.0f %12.2f  (x%.2f of the smallest size per tick)\n", n, best,
                    ticks / best, nsPerTick, nsPerTick / firstNsPerTick);
        std::printf("%12s fallbacks: right %zu, left %zu\n", "", rightFallbackTicks.size(),
                    leftFallbackTicks.size());
        std::fflush(stdout);
    }
    return 0;
}
