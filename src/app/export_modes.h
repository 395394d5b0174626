#pragma once

#include "app/options.h"

// The export modes of the program, run after startUpSession: the request built from the command
// line, and the score the session loaded, handed to the exporter (export/export.h).

int runExport(const ProgramOptions& options);
int runStill(const ProgramOptions& options);
// --export-midi: the performance as the session planned it, as a MIDI file (midi_export.h).
int runMidiExport(const ProgramOptions& options);

// The output rule for the --export, --still or --export-midi of the options, before any work:
// 0 when the output may be written, 1 after one line on standard error.
int checkExportOutputOf(const ProgramOptions& options);
