#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fingering/optimal_planner.h"

// Fingered scores as note lists (data/fingering-train/pieces/*.tsv): one note a row, onset and
// duration in quarter notes (integers or fractions), MIDI key, hand R/L, staff, voice, printed
// finger 1..5 or empty, measure. Read into the hands' grids so that the planners see them as
// they see a score, and compared with what the planners choose.

struct CorpusNote {
    int64_t onsetNum, onsetDen;  // onset in quarter notes, as a fraction
    int64_t durationNum, durationDen;
    int32_t key;  // 0..87
    int hand;     // 0 right, 1 left
    int finger;   // printed finger 1..5, 0 none
    int measure;
};

struct CorpusPiece {
    std::string name;  // file name without its folder
    std::vector<CorpusNote> notes;
};

// Reads one note list. Rows whose key lies off the keyboard are left out. False with a one-line
// reason for a file that cannot be read or a row that is not of the form above.
bool readCorpusPiece(const std::string& path, CorpusPiece* piece, std::string* error);

// The split of the pieces into the set the costs are counted and the blend weights chosen on
// ("train") and the set accuracy is reported on ("validation").
struct SplitEntry {
    std::string piece;  // file name, as in pieces/
    std::string role;   // train or validation
};
// Reads `piece<TAB>role` lines; lines starting with '#' and empty lines are skipped.
bool readSplit(const std::string& path, std::vector<SplitEntry>* split, std::string* error);

// A note of a piece where it lies in the grids.
struct PlacedNote {
    int hand;
    int32_t tick;    // first tick
    int32_t length;  // ticks
    int32_t key;
    int finger;  // printed finger 0..4, -1 none
    int measure;
    bool placed;  // false when the hand already held five notes there
};

// Fills rightNotes, leftNotes and divisions with the piece (ticks per quarter note: the least
// common multiple of its fractions' denominators, at most 960, onsets rounded beyond) and
// returns every note where it lies. A note struck again while it still sounds in the same hand
// ends the earlier one a tick before.
std::vector<PlacedNote> fillGrids(const CorpusPiece& piece);

// Where the piece's measures start in the grids: the first onset of each measure number, either
// hand (a measure that opens with a rest starts at its first note), rising.
std::vector<int32_t> measureStarts(const std::vector<PlacedNote>& notes);

// The placed notes' printed fingers, as the planners take them.
std::vector<PrintedFinger> printedFingers(const std::vector<PlacedNote>& notes);

// Printed fingers and how many of them the grids now give to that finger, per hand.
struct MatchTally {
    size_t notes[2] = {0, 0};
    size_t matched[2] = {0, 0};
    void add(const MatchTally& other) {
        for (int h = 0; h < 2; ++h) {
            notes[h] += other.notes[h];
            matched[h] += other.matched[h];
        }
    }
};
// After planning: a printed note matches when slot `finger` of its first tick holds its key.
MatchTally countMatches(const std::vector<PlacedNote>& notes);

// The exact match over both hands, in percent (0 without printed notes).
double exactShare(const MatchTally& t);

// How far a figure over a few dozen pieces can be trusted: the pieces are drawn again with
// replacement `draws` times (a fixed generator, so every run agrees) and the middle 95 % of the
// redrawn figures is returned: the exact match of `pieces`, or, given `against` (the same pieces
// planned otherwise, in the same order), the points by which it beats that on the same draw.
// Fingers of one piece go together (one editor, one style), so the piece, not the finger, is
// drawn. Both 0 for fewer than two pieces.
struct FigureRange {
    double low = 0.0;
    double high = 0.0;
};
constexpr int kRedraws = 2000;  // what the benchmark and the fit draw, and say they draw
FigureRange redrawnRange(const std::vector<MatchTally>& pieces,
                         const std::vector<MatchTally>& against = {}, int draws = kRedraws);

// The tallies of several pieces added up.
MatchTally sumTallies(const std::vector<MatchTally>& pieces);
