#pragma once

// The piano music of a piece, whatever it was read from: notes with their hand, key and times,
// the tempo map, the measures, the pedal and the dynamics. Ticks count 1/divisions of a quarter
// note from the piece's first tick; seconds follow the tempo map at speed 1.

#include <cstdint>
#include <string>
#include <vector>

// Velocity of a note whose source states none (a MIDI "mezzo-forte").
constexpr int kDefaultVelocity = 80;

struct PieceNote {
    int hand = 0;                     // 0 right, 1 left
    int32_t key = 0;                  // 0 (A0) .. 87 (C8)
    int32_t tick = 0;                 // onset
    int32_t endTick = 0;              // one past its last tick (> tick)
    double onset = 0.0;               // seconds (from the tempo map)
    double end = 0.0;                 // seconds
    int velocity = kDefaultVelocity;  // 1..127
    int printedFinger = 0;            // 1 thumb .. 5 little finger as printed; 0 none
    int plannedFinger = 0;            // 1..5 as planned; 0 not planned
    int staff = 0;                    // 1-based staff of a score; 0 none (MIDI)
    int voice = 0;                    // voice of a score, or the MIDI channel plus one; 0 none
    int measure = 0;                  // index into Piece::measures of the measure holding the onset
    bool tiedOn = false;  // continues the note of its key that ends where it starts, unstruck
                          // (a piece of a note too long for one duration of a strict score)
};

struct PieceTempo {
    int32_t tick = 0;
    double quartersPerMinute = 120.0;
};

struct PieceMeasure {
    std::string number;  // as printed ("1", "12a"); MIDI measures count from 1
    int32_t tick = 0;    // first tick
    int beats = 4;       // time signature in force: beats over beatType
    int beatType = 4;
};

// Sustain pedal (controller 64): `value` from `tick` on, 0 up .. 127 down.
struct PiecePedal {
    int32_t tick = 0;
    double seconds = 0.0;
    int value = 0;
};

// A dynamic as the source gives it: a mark ("p", "ff") or, from MIDI, nothing but the
// velocities of the notes themselves.
struct PieceDynamic {
    int32_t tick = 0;
    std::string mark;
};

struct Piece {
    std::string title;
    std::string composer;
    int32_t divisions = 0;               // ticks per quarter note
    int32_t endTick = 0;                 // one past the last tick of the music
    std::vector<PieceNote> notes;        // by tick, then hand, then key
    std::vector<PieceTempo> tempo;       // sorted, the first at tick 0
    std::vector<PieceMeasure> measures;  // in order, the first at tick 0
    std::vector<PiecePedal> pedal;       // in order
    std::vector<PieceDynamic> dynamics;  // in order
};

// Seconds from tick 0 to `tick` (fractional allowed) at speed 1 over a tempo map sorted by tick,
// at `ticksPerQuarter` ticks a quarter; the first tempo governs ticks before the first change
// and before 0, 120 quarters a minute an empty map. The one walk of a tempo map to seconds: the
// piece's times and the timeline's both come from it.
double tempoMapSeconds(const std::vector<PieceTempo>& tempo, double ticksPerQuarter, double tick);

// Seconds at `tick` (fractional allowed) over the piece's tempo map at speed 1.
double pieceSeconds(const Piece& piece, double tick);

// Puts the notes in their order, fills every note's seconds and measure index and every pedal
// event's seconds from the ticks. A piece without a tempo gets 120 quarter notes a minute, one
// without measures a single measure "1" of 4/4 at tick 0.
void settlePiece(Piece* piece);

// Gives every measure the time signature of its length (the next measure's start, the last one
// up to endTick): whole quarters as n/4, else n/8 or n/16; 4/4 when none fits. For sources that
// state measures but no signatures, so that a MIDI file shows the same bars.
void signaturesFromLengths(Piece* piece);

// ---- The piece and the classic grids (score/score_model.h) ----

// What making the grids changed, one line per kind with a count; empty when nothing.
struct GridReport {
    std::vector<std::string> changes;
};

// Fills rightNotes/leftNotes (as long as endTick), divisions, scanLength and currentTick as the
// reader leaves them. A note on a key that sounds again before it ends is let go one tick before
// the new onset; a hand never holds more than five notes: a sixth goes to the other hand when it
// has room, else it is left out. Every such change is counted in *report.
void fillClassicGrids(const Piece& piece, GridReport* report);

// Fills the grids of a piece whose notes already fit them (every key on the keyboard, at most
// five notes a hand at once, a key let go before it is struck again: the preparation's piece)
// exactly as the classic reader fills them from the strict document written of it: each note
// kept as it is, and each tick's slots in the order that document places its notes (measure by
// measure, the right hand before the left, each hand's notes of one onset and one end as a chord
// in lanes of strokes that never overlap). currentTick is left where the reader's cursor ends,
// on the last tick of the last measure. false, with the grids cleared, when a sixth note would
// sound in one hand.
bool fillStrictGrids(const Piece& piece);

// The notes of the grids in the globals (as loaded or as planned: a planned grid gives each note
// the finger of its slot), with the given tempo map and measures (ticks of the grids).
Piece pieceFromClassicGrids(const std::vector<PieceTempo>& tempo,
                            const std::vector<PieceMeasure>& measures, bool planned);
