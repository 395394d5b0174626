#pragma once

// Ornaments and articulation as a pianist plays them. The marks of a note are read from its
// <notations> (and its grace notes from the <note grace> elements before it); the performance
// then plays them out as ordinary notes in ticks: grace notes before or on the beat, staccato
// notes shortened, trills, mordents, turns and tremolos as their notes, glissandos as the keys
// between, rolled chords, and fermatas as a slower tempo over their span. Everything happens
// before the hands are planned, so every note played is also fingered.
//
// Sections: the marks of one note; reading them; playing them out.

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <vector>

// ---- the marks of one note ----

enum class Articulation { None, Staccato, Staccatissimo, Spiccato, Tenuto, DetachedLegato };

enum class Ornament {
    None,
    Trill,            // main and upper note in turn
    Mordent,          // main, lower, main
    InvertedMordent,  // main, upper, main
    Turn,             // upper, main, lower, main
    InvertedTurn,     // lower, main, upper, main
    DelayedTurn,      // main held, then the turn in the note's second half
};

// A grace note written before its main note.
struct GraceNote {
    int32_t key = 0;      // 0..87 (may lie outside: then it is not played)
    bool slash = false;   // acciaccatura; else appoggiatura
    bool chord = false;   // sounds with the grace note before it
    int64_t written = 0;  // ticks of its written value (type and dots)
};

struct NoteMarks {
    Articulation articulation = Articulation::None;
    int arpeggio = 0;            // 0 none, 1 rolled upwards, -1 downwards
    std::string arpeggioNumber;  // notes of one roll share it (both staves included)
    Ornament ornament = Ornament::None;
    int32_t upper = 0;         // the auxiliary notes: diatonic neighbours of the main note,
    int32_t lower = 0;         // altered by accidental marks, else by the key signature
    int tremoloSingle = 0;     // strokes of a one-note tremolo: its slashes (1..4); 0 none
    int tremoloStart = 0;      // slashes of a two-note tremolo starting here; 0 none
    bool tremoloStop = false;  // the second note (chord) of a two-note tremolo
    int glissandoStart = 0;    // 0 none, 1 over the white keys, 2 over every key
    std::string glissandoStartNumber;
    bool glissandoStop = false;
    std::string glissandoStopNumber;
    std::vector<GraceNote> graces;  // in the order written
    bool any() const;
};

// ---- reading them ----

// The pitch of a written note: step 0 (C) .. 6 (B), its alteration and octave.
struct WrittenPitch {
    int step = 0;
    int alter = 0;
    int octave = 4;
    int transpose = 0;  // semitones from written to sounding pitch
};

// Key 0..87 numbering (A0 = 0) of a written step, alteration and octave, transposition added.
int32_t keyOfPitch(int step, int alter, int octave, int transpose);

// Reads the articulations, ornaments, tremolos, arpeggios and glissandos of a note element
// written at `pitch`. `fifths` is the key signature in force (sharps positive). Only pitched,
// sounding notes call it. True when the note holds a fermata.
bool readNoteMarks(pugi::xml_node note, const WrittenPitch& pitch, int fifths, NoteMarks* marks);

// Ticks of the written value of a note (its <type> and dots), 0 when it states none.
int64_t writtenTicks(pugi::xml_node note, int64_t quarter);

// True when a note or rest element carries a fermata.
bool hasFermata(pugi::xml_node note);

// ---- playing them out ----

// A note of the performance before its ornaments are played, in the common ticks.
struct OrnamentNote {
    int hand = 0;
    int staff = 0;
    std::string voice;
    int64_t onset = 0;
    int64_t end = 0;
    int32_t key = 0;
    size_t sourceIndex = 0;
    int finger = 0;
    int marks = -1;  // index into the marks, -1 none
};

struct OrnamentTempo {
    int64_t tick;
    double quartersPerMinute;
};

// What was played out, by kind, for the report.
struct OrnamentCounts {
    int graces = 0;
    int graceDropped = 0;  // outside the keyboard, or no room at all
    int shortened = 0;     // staccato and its kind
    int ornaments = 0;     // trills, mordents, turns
    int tremolos = 0;
    int glissandos = 0;
    int rolled = 0;    // chords
    int fermatas = 0;  // spans slowed
};

// Plays out every mark. `quarter` is the ticks of a quarter note (a multiple of 32, so that
// every ornament value down to a 128th note is a whole number of ticks); `tempo` is the tempo
// map (sorted; 120 before its first change), which the fermatas' spans slow down.
void playOrnaments(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
                   std::vector<std::pair<int64_t, int64_t>> fermatas, int64_t quarter,
                   std::vector<OrnamentTempo>* tempo, OrnamentCounts* counts);

// Values the performance uses, for the tests and the documentation.
constexpr double kStaccatoFraction = 0.5;
constexpr double kStaccatissimoFraction = 0.25;
constexpr double kSpiccatoFraction = 0.25;
constexpr double kDetachedLegatoFraction = 0.75;
constexpr double kFermataFactor = 2.0;  // a fermata's span lasts twice as long
constexpr double kGraceSeconds = 0.06;  // an acciaccatura, a mordent's and a turn's notes
constexpr double kTrillSeconds = 0.1;   // one note of a trill
constexpr double kRollSeconds = 0.03;   // between the notes of a rolled chord
