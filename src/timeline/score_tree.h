#pragma once

// What a score's parsed tree holds beyond the grids the classic reader fills from it: the tempo
// and measures, the fingers printed on its notes and its title and composer, read from the very
// tree the reader walked (the reader hands it over), so that the text is parsed once.

#include <cstdint>
#include <string>
#include <vector>

#include "timeline/timeline.h"

namespace pugi {
class xml_document;
}

// A finger printed on a note, placed as the reader places the note: its hand (0 right, the G
// clef's staff; 1 left, the F clef's), first tick and key.
struct PrintedMark {
    int hand;
    int32_t tick;
    int32_t key;
    int finger;  // 1 thumb .. 5 little finger
};

struct ScoreTreeReading {
    ScoreTiming timing;                // as readScoreTiming reads it from the text
    std::vector<PrintedMark> printed;  // in document order
    std::string title;                 // work-title, else movement-title; "" when none
    std::string composer;              // the creator of type composer; "" when none
};

// false with a one-line reason (no newline) when the tree has no piano part with divisions.
bool readScoreTree(const pugi::xml_document& document, ScoreTreeReading* reading,
                   std::string* error);

// The Piece of a score the classic reader has loaded: the notes of the grids as they stand
// (each with the finger printed on it, matched by hand, first tick and key), the reading's tempo
// map and measures (each given the time signature of its length) and its title and composer.
Piece pieceOfLoadedScore(const ScoreTreeReading& reading);
