#pragma once

// ---- Test hooks: fault injection. Read and written by tests; the program leaves them at 0. ----
// Every fallible call of the exporter into EGL, GL, libpng, FFmpeg or the file system counts.
extern long exportCallsMade;       // fallible calls made so far
extern long exportFailCallNumber;  // the call with this 1-based number fails; 0 none

// Counts one fallible call about to be made; true when the hook wants it to fail instead.
bool exportCallFails();
