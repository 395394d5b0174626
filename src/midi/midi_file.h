#pragma once

// Standard MIDI Files in and out, through libsmf. Reading gives a Piece: the notes of every
// channel but the drum channel, with their velocities, the tempo map, the measures the time
// signatures make, the sustain pedal, and each note's hand (see hand_split.h). Writing gives one
// track per hand, named for it, after a track of tempo and time signatures.

#include <string>
#include <vector>

#include "music/piece.h"

struct MidiReadOptions {
    int splitKey = -1;  // >= 0: every note from this key (0..87) up is the right hand's
};

// What reading changed or chose, one line per kind (for standard error).
struct MidiReadReport {
    std::vector<std::string> changes;
};

// True when `bytes` start like a Standard MIDI File, or `path` ends in .mid or .midi (any case).
bool looksLikeMidi(const std::string& path, const std::string& bytes);

// Reads the file's bytes into *piece. false with a one-line reason (no newline) for a format 2
// file, a truncated or malformed one, one counted in SMPTE frames, or one without a note to play.
bool readMidi(const std::string& bytes, const MidiReadOptions& options, Piece* piece,
              MidiReadReport* report, std::string* error);

// Writes `piece` as a format 1 file at `path` (as it is: the caller chooses a temporary name).
// false with a one-line reason.
bool writeMidi(const Piece& piece, const std::string& path, std::string* error);

// A key as the user writes it: a MIDI note number 21..108 or a name such as C4, F#3, Bb2 (C4 is
// middle C). The key number 0..87, or -1.
int parseKeyName(const std::string& text);
