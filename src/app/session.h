#pragma once

#include <string>

#include "app/options.h"
#include "prepare/prepare.h"

// Start-up of the long-option modes: the classic start-up's steps with the score prepared in
// memory when asked for, and the planner the options choose.

// ---- Written once by startUpSession; read by the real-time window and the exporter. ----
extern std::string sessionDocument;    // the XML text the reader loaded (prepared or as read)
extern PrepareResult sessionPrepared;  // the preparation's notes and changes, with --prepare

// Key table and start values, the score (prepared when options.prepare or a --part is given),
// key states, reset, and the chosen planner. Returns 0 when the score is loaded and planned, -1
// when it could not be loaded: the reader's own messages, then one line on standard error with
// the file and the reason.
int startUpSession(const ProgramOptions& options);

// True when the preparation can read the score at `path` (it prints nothing): the advice to
// give when the classic reader refuses a score a notation program wrote.
bool preparationReads(const char* path);

// The planner the options choose for their mode.
FingeringChoice chosenFingering(const ProgramOptions& options);
