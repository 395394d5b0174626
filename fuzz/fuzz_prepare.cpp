// Feeds arbitrary bytes to the preparation as a score's text. Whatever it accepts must load
// through the strict reader, and the reader's grids must hold exactly the notes the preparation
// reported: equal lengths, keys on the keyboard, every note from its first tick to its last.
// Run it with -close_fd_mask=3 (scripts/fuzz.sh does) to drop the reader's messages.
#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

using Found = std::tuple<int32_t, int, int32_t, int32_t>;  // tick, hand, key, length

// The notes of both grids; traps on a key off the keyboard or one held twice in a record.
std::vector<Found> notesInGrids() {
    std::vector<Found> notes;
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
        std::vector<int32_t> since(kKeyCount, -1);
        for (size_t t = 0; t < grid.size(); ++t) {
            for (const NoteSlot& slot : grid[t].slot) {
                if (slot.key == kNoKey) {
                    continue;
                }
                if (slot.key < 0 || slot.key >= kKeyCount) {
                    __builtin_trap();
                }
                if (since[slot.key] < 0) {
                    since[slot.key] = static_cast<int32_t>(t);
                }
                if (slot.lastTick == 1) {
                    notes.emplace_back(since[slot.key], hand, slot.key,
                                       static_cast<int32_t>(t) - since[slot.key] + 1);
                    since[slot.key] = -1;
                }
            }
        }
        if (std::any_of(since.begin(), since.end(), [](int32_t s) { return s >= 0; })) {
            __builtin_trap();
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PrepareResult result;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!prepareScoreText(text, {}, &result)) {
        if (result.error.empty() || result.error.find('\n') != std::string::npos) {
            __builtin_trap();
        }
        return 0;
    }
    rightNotes.clear();
    leftNotes.clear();
    rightNotes.shrink_to_fit();
    leftNotes.shrink_to_fit();
    currentTick = -1;
    divisions = 0;
    scanLength = 0;
    if (loadScoreFromBuffer(result.xml.data(), result.xml.size(), nullptr) != 0 ||
        rightNotes.size() != leftNotes.size() || divisions < 1) {
        __builtin_trap();
    }
    std::vector<Found> reported;
    for (const PreparedNote& n : result.notes) {
        if (n.length < 1 || n.length > 4999 || n.hand < 0 || n.hand > 1 || n.printedFinger < 0 ||
            n.printedFinger > 5) {
            __builtin_trap();
        }
        reported.emplace_back(n.tick, n.hand, n.key, n.length);
    }
    std::sort(reported.begin(), reported.end());
    if (notesInGrids() != reported) {
        __builtin_trap();
    }
    return 0;
}
