#pragma once

#include <string>

#include "app/options.h"
#include "music/piece.h"
#include "prepare/prepare.h"
#include "timeline/timeline.h"

// Start-up of the long-option modes: the classic start-up's steps with the score prepared in
// memory when asked for, and the planner the options choose.

// ---- Written once by startUpSession; read by the real-time window and the exporter. ----
extern std::string sessionDocument;    // the XML text the reader loaded (prepared or as read)
extern PrepareResult sessionPrepared;  // the preparation's notes and changes, with --prepare
extern bool sessionFromMidi;           // the score is a MIDI file: no document, the piece below
extern Piece sessionPiece;             // the MIDI file's piece, as read
extern ScoreTiming sessionTiming;      // its tempo and measures, as the timeline takes them

// startUpSession's failures: a score the reader cannot load, and a file refused outright (a bad
// MIDI file); every long-option mode ends with status 1 after either.
constexpr int kSessionNotLoaded = -1;
constexpr int kSessionRefused = -2;

// Key table and start values, the score (prepared when options.prepare or a --part is given;
// a MIDI file read into sessionPiece and the grids), key states, reset, and the chosen planner.
// Returns 0 when the score is loaded and planned, else kSessionNotLoaded or kSessionRefused:
// the reader's own messages, then one line on standard error with the file and the reason.
int startUpSession(const ProgramOptions& options);

// True when the preparation can read the score at `path` (it prints nothing): the advice to
// give when the classic reader refuses a score a notation program wrote.
bool preparationReads(const char* path);

// The piece the performance takes its velocities and pedal from: the MIDI file's, or the
// preparation's; nullptr for a score read as it is (its notes play at the default velocity).
const Piece* sessionPerformancePiece();

// The planner the options choose for their mode.
FingeringChoice chosenFingering(const ProgramOptions& options);
