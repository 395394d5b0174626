#pragma once

#include <string>

#include "app/options.h"
#include "music/piece.h"
#include "prepare/prepare.h"
#include "timeline/timeline.h"

// Start-up of the long-option modes: the classic start-up's steps with the score prepared in
// memory when asked for, and the planner the options choose.

// ---- Written once by startUpSession; read by the real-time window and the exporter. ----
// The one piece of the score, whatever its source, read once: a MIDI file's as read, a prepared
// score's as the preparation built it, a score read as it is from the grids the reader filled
// and the tree it parsed. Everything after start-up takes it or what is derived from it.
extern Piece sessionPiece;
extern ScoreTiming sessionTiming;      // its tempo and measures, as the timeline takes them
extern bool sessionFromMidi;           // the score is a MIDI file
extern PrepareResult sessionPrepared;  // the preparation's notes and changes, with --prepare
// The strict document the preparation writes for a prepared score ("" for any other source).
// Nothing in the program reads it, so start-up does not have it written: it is written when first
// asked for, by preparing the score once more with the same options, and kept from then on.
class SessionDocument {
public:
    const std::string& text() const;
    operator const std::string&() const { return text(); }
    const char* data() const { return text().data(); }
    size_t size() const { return text().size(); }
    bool empty() const { return text().empty(); }
    // No document (a score read as it is, a MIDI file, before start-up).
    void clear();
    // The document of the score at `path` prepared with `options`, to be written when asked for.
    void preparedFrom(const std::string& path, const PrepareOptions& options);

private:
    mutable std::string text_;
    mutable bool pending_ = false;
    std::string path_;
    PrepareOptions options_;
};
extern SessionDocument sessionDocument;
// startUpSession's failures: a score the reader cannot load, and a file refused outright (a bad
// MIDI file); every long-option mode ends with status 1 after either.
constexpr int kSessionNotLoaded = -1;
constexpr int kSessionRefused = -2;

// Key table and start values, the score (prepared when options.prepare or a --part is given,
// a MIDI file, or a score read as it is) into sessionPiece, sessionTiming and the grids, key
// states, reset, and the chosen planner.
// Returns 0 when the score is loaded and planned, else kSessionNotLoaded or kSessionRefused:
// the reader's own messages, then one line on standard error with the file and the reason.
int startUpSession(const ProgramOptions& options);

// True when the preparation can read the score at `path` (it prints nothing): the advice to
// give when the classic reader refuses a score a notation program wrote.
bool preparationReads(const char* path);

// The piece the performance takes its velocities and pedal from: sessionPiece, except for a
// score read as it is whose marks could not be read (nullptr: its notes play at the default
// velocity, without pedal).
const Piece* sessionPerformancePiece();

// The planner the options choose for their mode.
FingeringChoice chosenFingering(const ProgramOptions& options);
