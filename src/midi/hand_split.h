#pragma once

// Which hand plays each note of music that does not say it: a small planner over time. Notes
// struck together form a chord; each chord is cut once between its keys (everything below the
// cut to the left hand). The cut of every chord is chosen for the whole piece at once, by dynamic
// programming, to keep each hand within its span and five fingers (counting the notes it still
// holds), near where it last played, on its own side of the other hand, and near its usual
// register; a hand that still holds a note, or a chord one hand takes while the other rests,
// costs a little more. Linear in the number of notes (one step per chord, over its cuts).

#include <vector>

#include "music/piece.h"

// Sets the hand of every note whose index is in `which` (notes of piece->notes).
void splitHands(std::vector<PieceNote>* notes, const std::vector<size_t>& which);
