// Feeds arbitrary bytes to the reader through the same entry the program uses: the bytes are
// written to a file and loadScore is called with that file as the command line's argument.
// Run it with -close_fd_mask=3 (scripts/fuzz.sh does): the reader's messages are then dropped
// while the fuzzer's own statistics and crash reports still reach the terminal.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {
std::string scorePath;

// Scores up to this many ticks are also planned and played through, step by step, so that
// whatever the reader lets through is run past the planner and the animation too; longer ones
// would make a single run too slow for the fuzzer.
constexpr size_t kPlayTickLimit = 1 << 12;

bool finite(const Point3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

bool handFinite(const HandState& hand) {
    bool all = finite(hand.position);
    for (const Point3& finger : hand.fingers) {
        all = all && finite(finger);
    }
    return all;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scorePath = "/dev/shm/quorvel-fuzz-" + std::to_string(getpid()) + ".xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(scorePath.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    rightNotes.clear();
    leftNotes.clear();
    // A huge grid's storage is not kept for the runs that follow.
    rightNotes.shrink_to_fit();
    leftNotes.shrink_to_fit();
    currentTick = -1;
    divisions = 0;
    scanLength = 0;

    char program[] = "quorvel";
    std::string path = scorePath;
    char* argv[] = {program, path.data(), nullptr};
    // The program's own start-up: key table, start values, the reader, key states, reset, plans.
    if (startUp(2, argv) != 0) {
        return 0;
    }

    // Whatever the reader accepts must be safe for every consumer: equal grids, keys on the
    // keyboard or empty, and a planner window of at least one tick.
    if (rightNotes.size() != leftNotes.size() || divisions < 1 || scanLength < 1) {
        __builtin_trap();
    }
    for (const std::vector<NoteEvent>* grid : {&rightNotes, &leftNotes}) {
        for (const NoteEvent& event : *grid) {
            for (const NoteSlot& slot : event.slot) {
                if (slot.key < kNoKey || slot.key >= kKeyCount) {
                    __builtin_trap();
                }
            }
        }
    }
    if (rightPlan.size() != rightNotes.size() || leftPlan.size() != leftNotes.size()) {
        __builtin_trap();
    }
    if (rightNotes.size() > kPlayTickLimit) {
        return 0;
    }
    // Play it all through, eight steps a tick, as the idle callback would.
    playMode = IdleDriven;
    const size_t steps = 8 * rightNotes.size();
    for (size_t step = 0; step < steps && playMode != Stopped; ++step) {
        animationStep();
    }
    if (!handFinite(rightHand) || !handFinite(leftHand)) {
        __builtin_trap();
    }
    return 0;
}
