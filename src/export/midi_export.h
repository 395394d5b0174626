#pragma once

#include <string>

#include "export/output_file.h"
#include "music/piece.h"

// Writes `piece` as a Standard MIDI File at `outputPath` by the writers' rule: never onto the
// input (`inputPath`, also through links), never onto a folder or anything but a regular file,
// through a symbolic link onto its target, and only as a complete new file (a temporary beside
// the target, renamed). 0 written (one line on standard output), 1 not (one line on standard
// error, nothing left behind).
int exportMidiFile(const Piece& piece, const std::string& inputPath, const std::string& outputPath);

// The output rule for a MIDI file, before any work: checkOutput against the input, and no
// MusicXML name (a forgotten output name). false with the reason.
bool checkMidiOutput(const std::string& outputPath, const std::string& inputPath,
                     OutputTarget* target, std::string* error);
