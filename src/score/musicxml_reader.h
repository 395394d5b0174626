#pragma once

#include <cstddef>
#include <cstdint>

// The score used when the command line names none, relative to the working directory.
constexpr const char* kDefaultScorePath = "../debug/OrlundePianoSonata.xml";

// Reads the piano part of the MusicXML score named by argv[1] (or the default score) into
// rightNotes and leftNotes, sets divisions and scanLength, and prints the progress and totals.
// Returns 0 on success and -1 on any failure, after printing why.
int32_t loadScore(int argc, char** argv);

// The same for a score held in memory: the `size` bytes at `data`. `shownPath` is printed as
// "File : <shownPath>" (null prints no File line); messages, totals and grids are those of
// loadScore for a file holding the same bytes.
int32_t loadScoreFromBuffer(const char* data, size_t size, const char* shownPath);

// The integer written as `text` (-2..4999 in plain decimal), or -1 with a message.
int32_t textToInt(const char* text);

// The offset of a step letter C..B (1, 3, 5, 6, 8, 10, 12), or -1 with a message.
int32_t stepOffset(const char* text);
