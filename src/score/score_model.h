#pragma once

#include <cstdint>
#include <vector>

// The score as two per-hand tick grids. A tick is 1/divisions of a quarter note; record t of a
// grid is what that hand holds down during tick t. Key numbers run 0 (A0) to 87 (C8).

// A key number that names no key: an empty slot.
constexpr int32_t kNoKey = -1;
// Keys on the keyboard.
constexpr int32_t kKeyCount = 88;
// Notes one hand can hold in one tick, one per finger.
constexpr int kSlotCount = 5;

// One sounding note in one tick.
struct NoteSlot {
    int32_t key;       // key number 0..87, or kNoKey for an empty slot
    int32_t lastTick;  // 1 when this tick is the note's last (the key is let go after it)
};

// Everything one hand holds during one tick. Before planning the slots are in reading order;
// after planning slot k belongs to finger k (0 thumb .. 4 little finger).
struct NoteEvent {
    NoteSlot slot[kSlotCount];
};

// The record of a tick in which a hand plays nothing.
constexpr NoteEvent kEmptyEvent = {
    {{kNoKey, 1}, {kNoKey, 1}, {kNoKey, 1}, {kNoKey, 1}, {kNoKey, 1}}};

// ---- Filled by the reader; slots rearranged in place by the planner. Never shortened. ----
extern std::vector<NoteEvent> rightNotes;  // right hand (G clef staff), one record per tick
extern std::vector<NoteEvent> leftNotes;   // left hand (F clef staff); always as long as rightNotes

// ---- Set by start-up, then by the reader; changed later by commands and playback. ----
extern int32_t currentTick;  // reader's write cursor (-1 before loading), then the playback tick
extern int32_t divisions;    // ticks per quarter note; 0 until the reader finds it
extern int32_t
    scanLength;  // planner window in ticks; 4 * divisions after loading, "w"/"s" change it
