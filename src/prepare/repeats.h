#pragma once

// Repeats as a pianist plays them: repeat barlines (with `times`), first and second endings,
// D.C., D.S., al Fine and al Coda, read from barlines, <sound> attributes and direction words of
// a part's measures, turned into the order in which the measures are played.

#include <cstddef>
#include <pugixml.hpp>
#include <vector>

// What one measure says about the order of play.
struct RepeatMarks {
    bool forward = false;       // a forward repeat barline: a repeated section starts here
    int backward = 0;           // a backward repeat barline: the section is played this many times
    std::vector<int> ending;    // the passes this measure's ending is played on; empty: no ending
    bool segno = false;         // the D.S. goes back here
    bool coda = false;          // the coda: "To Coda" goes on here
    bool fine = false;          // after a D.C. or D.S. the piece ends with this measure
    bool daCapo = false;        // after this measure, back to the start (once)
    bool dalSegno = false;      // after this measure, back to the segno (once)
    bool toCoda = false;        // after a D.C. or D.S., on from this measure to the coda
    bool timesWritten = false;  // `times` was written on the backward repeat
};

// The marks of each measure, in order. A measure that is not a node has none.
std::vector<RepeatMarks> readRepeatMarks(const std::vector<pugi::xml_node>& measures);

// The measures in the order they are played, as indices into `marks`. Without any mark it is
// 0, 1, ... n-1. Each D.C. or D.S. is taken once; after it every repeated section is played
// once, with its last ending; the order never grows beyond 32 times the measures written.
std::vector<size_t> playOrder(const std::vector<RepeatMarks>& marks);
