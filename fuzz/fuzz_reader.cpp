// Feeds arbitrary bytes to the reader through the same entry the program uses: the bytes are
// written to a file and loadScore is called with that file as the command line's argument.
// Run it with -close_fd_mask=3 (scripts/fuzz.sh does): the reader's messages are then dropped
// while the fuzzer's own statistics and crash reports still reach the terminal.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {
std::string scorePath;
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
    currentTick = -1;
    divisions = 0;
    scanLength = 0;

    char program[] = "quorvel";
    std::string path = scorePath;
    char* argv[] = {program, path.data(), nullptr};
    if (loadScore(2, argv) != 0) {
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
    return 0;
}
