#pragma once

// The timing of a Piece as the timeline takes it, and the way back: a score's timing as the
// tempo map and measures of a Piece.

#include <vector>

#include "music/piece.h"
#include "timeline/timeline.h"

ScoreTiming timingOfPiece(const Piece& piece);

// Tempo map of a timing, for a Piece.
std::vector<PieceTempo> tempoOfTiming(const ScoreTiming& timing);
// Measures of a timing, for a Piece. A score's timing states no time signatures: each measure
// gets the signature of its length (in quarters when it is whole quarters, else in eighths or
// sixteenths), which is what a MIDI file needs to show the same bars.
std::vector<PieceMeasure> measuresOfTiming(const ScoreTiming& timing);
