#pragma once

// Score preparation: turns a MusicXML score as notation programs write it into the strict form
// the reader accepts, one piano part with a G-clef staff for the right hand and an F-clef staff
// for the left, whose grids hold the piano music of the original.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "music/piece.h"

namespace pugi {
class xml_document;
}

struct PrepareOptions {
    std::vector<std::string> parts;  // --part values: part ids or 1-based positions;
                                     // one: the piano part; two: right hand part, left hand part
    bool repeats = true;  // play repeats, endings, D.C. and D.S. in order; false: each measure once
    bool ornaments = false;   // play grace notes, articulation, ornaments, rolls and fermatas out
                              // as notes and tempo (the performance); false: notes as written
    bool strictText = true;   // write the strict document into PrepareResult::xml; false: only
                              // the notes and the Piece, for callers that need no document
    bool keepSource = false;  // keep the source's text in PrepareResult::sourceXml, for a caller
                              // that writes into it; false: the text is parsed where it was read
};

// One note of the prepared piano music, in prepared ticks.
struct PreparedNote {
    size_t sourceIndex;  // index of its <note> element among all <note> elements of the source
                         // document, in document order
    int hand;            // 0 right, 1 left (after every move between hands)
    int32_t tick;        // onset: index of its first tick in the reader's grids
    int32_t length;      // ticks it sounds
    int32_t key;         // 0..87
    int printedFinger;   // finger printed in the score, 1..5 (first of "4-1"); 0 none
};

struct PrepareResult {
    std::string xml;                   // the prepared, strict-form document (when asked for)
    std::string sourceXml;             // the source's MusicXML text (root file of an .mxl),
                                       // when PrepareOptions::keepSource asks for it
    std::vector<std::string> changes;  // one line per kind of change (counts, first measures)
    std::vector<PreparedNote> notes;   // every note the grids will play, by (tick, hand, key)
    Piece piece;  // the same music as a Piece: these notes, the tempo map and the measures of the
                  // prepared document, in its ticks
    std::string error;  // why it failed (one line, no newline)
};

// Reads the score at `path` (plain MusicXML or compressed .mxl) and prepares it.
bool prepareScore(const std::string& path, const PrepareOptions& options, PrepareResult* result);
// Prepares a score given as MusicXML text.
bool prepareScoreText(const std::string& sourceXml, const PrepareOptions& options,
                      PrepareResult* result);
// Prepares a score the classic reader has already parsed (its tree as the reader keeps it), so
// that a score read as it is gets its marks without its text being parsed a second time. The
// result holds no source text.
bool prepareScoreTree(const pugi::xml_document& document, const PrepareOptions& options,
                      PrepareResult* result);
