#pragma once

// The notes of the loaded grids in quarter notes, to compare with what another program plays.

#include <algorithm>
#include <cstddef>
#include <map>
#include <vector>

#include "score/score_model.h"

struct PlayedNote {
    int hand;      // 0 right, 1 left (or a track's index, for notes read elsewhere)
    int key;       // 0..87
    double onset;  // quarter notes from the start
    double end;
};

inline bool operator<(const PlayedNote& a, const PlayedNote& b) {
    return a.onset != b.onset ? a.onset < b.onset
           : a.key != b.key   ? a.key < b.key
                              : a.hand < b.hand;
}

// Every note of rightNotes and leftNotes, from its first tick to the tick whose lastTick is 1,
// sorted by onset, key and hand.
inline std::vector<PlayedNote> gridNotesInQuarters() {
    std::vector<PlayedNote> notes;
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
        std::map<int, size_t> open;  // key -> first tick
        for (size_t t = 0; t < grid.size(); ++t) {
            for (const NoteSlot& slot : grid[t].slot) {
                if (slot.key < 0) {
                    continue;
                }
                open.emplace(slot.key, t);  // kept when the note already sounds
                if (slot.lastTick == 1) {
                    notes.push_back({hand, slot.key,
                                     static_cast<double>(open[slot.key]) / divisions,
                                     static_cast<double>(t + 1) / divisions});
                    open.erase(slot.key);
                }
            }
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}
