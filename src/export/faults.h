#pragma once

#include "base/fault_counter.h"

// ---- Test hooks: fault injection. Read and written by tests; the program leaves them at 0. ----
// Every fallible call of the exporter into EGL, GL, libpng, FFmpeg or the file system counts.
extern FaultCounter exportFaults;   // fallible calls of the exporter
extern long& exportCallsMade;       // exportFaults.made
extern long& exportFailCallNumber;  // exportFaults.failAt

// Counts one fallible call about to be made; true when the hook wants it to fail instead.
bool exportCallFails();
