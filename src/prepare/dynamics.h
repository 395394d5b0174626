#pragma once

// How loud each note is played and where the sustain pedal goes down, from the marks of the
// score: dynamic marks, the <sound> element's dynamics and damper-pedal, a note's own dynamics
// attribute, wedges, accents and pedal lines. The preparation reads the marks while it walks the
// measures in the order they are played, places them on its ticks, and hands them here once
// its notes are final; everything below is pure.
//
// Sections: the velocity curve; marks as read; marks placed; applying them to a piece.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <utility>
#include <vector>

#include "music/piece.h"

struct PreparedNote;

// ---- The velocity curve ----

// Velocity of a dynamic mark's name ("p", "ff", "sfz", ...); 0 for a name that is not a mark.
// For a mark that plays one loudness and then another (fp, sfp, sfpp, sfzp), the first.
int markVelocity(const std::string& mark);
// The loudness that follows the first one: p for fp, sfp and sfzp, pp for sfpp; 0 for the rest.
int markVelocityAfter(const std::string& mark);
// True for the marks that strike only the notes where they stand (sf, sfz, sffz, fz, rf, rfz,
// and the first loudness of fp and its kin); the level in force goes on after them.
bool markIsAccent(const std::string& mark);

// One step of the curve: what a wedge without a closing mark rises or falls, and an accent's lift.
constexpr int kDynamicStep = 15;

// ---- Marks as read, in the part's own measure positions ----

enum class MarkKind {
    Level,      // a dynamic mark in force from here on (or an accent, see markIsAccent)
    Wedge,      // a crescendo (rise) or diminuendo (fall) starts
    WedgeStop,  // the wedge of the same number ends
    Pedal       // the sustain pedal moves
};

struct ReadMark {
    MarkKind kind = MarkKind::Level;
    size_t measure = 0;  // index of the measure among those read (in the order of play)
    int64_t offset = 0;  // position in that measure, in the preparation's reading unit
    int staff = 0;       // 1-based; 0 no staff named (the whole part)
    std::string mark;    // Level: the mark's name; "" when only a <sound dynamics> is given
    int velocity = 0;    // Level: a <sound dynamics> or note dynamics value as a velocity; 0 none
    int rise = 0;        // Wedge: +1 crescendo, -1 diminuendo
    std::string number;  // Wedge, WedgeStop: the wedge's number attribute ("1" when none)
    int pedal = -1;      // Pedal: 0 up .. 127 down; kPedalChange lifts and presses again
};

// A pedal change: up and straight down again at the same moment.
constexpr int kPedalChange = 1000;

// What a note itself says about its loudness.
struct NoteMark {
    int staff = 1;
    int velocity = 0;          // from its dynamics attribute; 0 none
    int lift = 0;              // accent or strong accent (marcato): added to the level
    size_t measure = 0;        // where it is read
    int64_t offset = 0;        // its onset in the measure
    std::string notationMark;  // a dynamic written in its notations ("" none)
};

struct MarkSet {
    std::vector<ReadMark> marks;  // in reading order
    // What each note read says, in the order the notes are first read; slot[source index] is the
    // note's place in `notes` plus one (0: not read), so that a note read again in a repeat keeps
    // one entry and no lookup costs more than an index.
    std::vector<std::pair<size_t, NoteMark>> notes;
    std::vector<uint32_t> slot;
};

// The marks of one <direction> at position `at` of measure `measure` (its dynamics, wedges,
// pedal lines and <sound> elements); its <staff> names the staff.
void readDirectionMarks(pugi::xml_node direction, size_t measure, int64_t at, MarkSet* set);
// A <sound> element standing alone in a measure: its dynamics and damper-pedal, for the part.
void readSoundMarks(pugi::xml_node sound, size_t measure, int64_t at, int staff, MarkSet* set);
// A played note's dynamics attribute, accents and notation dynamics (staff 0 is taken as 1).
// A caller that knows the note has no <notations> says so, and they are not looked for.
void readNoteMarks(pugi::xml_node note, size_t sourceIndex, size_t measure, int64_t onset,
                   int staff, MarkSet* set, bool hasNotations = true);

// ---- Marks placed on the played ticks ----

struct PlacedMark {
    ReadMark mark;
    int64_t tick = 0;  // in the preparation's reading unit until scaled
    int lane = 0;      // part and staff: lane of the staff it names; 0: every lane of the part
    int part = 0;      // which played part it belongs to (0 or 1)
};

struct PlacedNote {
    int velocity = 0;
    int lift = 0;
    int lane = 0;
};

struct PlacedMarks {
    std::vector<PlacedMark> marks;  // in reading order within each part
    std::vector<PlacedNote> notes;  // by source index; lane 0 where no played note was read
};

// The lane of a staff of a played part: staves of the first part 1.., of the second 101...
int markLane(int part, int staff);

// Puts one played part's marks on the ticks: `at(measure, offset)` gives the tick, within the
// measure. `part` is its place among the played parts (0 or 1).
void placeMarks(const MarkSet& set, int part, const std::function<int64_t(size_t, int64_t)>& at,
                PlacedMarks* placed);
// Rescales every placed tick (the preparation's unit to the written divisions).
void scaleMarks(PlacedMarks* placed, const std::function<int64_t(int64_t)>& scale);

// ---- Applying them ----

// Gives every note of `piece` its velocity and fills piece->pedal and piece->dynamics from the
// placed marks; `notes` are the prepared notes (their source indices link a piece note, found
// by tick, hand and key, to what was read for it). Pedal events get their seconds.
void applyMarks(const PlacedMarks& placed, const std::vector<PreparedNote>& notes, Piece* piece);
