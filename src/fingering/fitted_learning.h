#pragma once

#include <vector>

#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"

// Learning the fitted tables from the planner's own mistakes. Counted probabilities say how often
// editors print a finger in a context, not how much a cell must weigh against the hand-set rules
// and the other tables for the planner's choice to come out as the editor's; and with a few
// thousand printed fingers for tables of tens of thousands of cells most counts are too sparse to
// say even the first. So, starting from the counted table, every training piece is planned in
// turn with its printed fingers hidden; where the plan gives a printed note another finger, every
// cell the plan's fingers use at the printed notes gets dearer by the step and every cell the
// editor's use cheaper (an averaged structured perceptron), so that the planner's next choice
// moves towards the editor's. A mistake moves the cell's group: the same context in the other
// hand and in the finer details, because most cells are never reached by a printed finger. The
// table returned is the mean of the tables after every piece of every pass (averaging keeps one
// late piece from pulling the cells its way, and generalises better than the last table). The
// dynamic programme is unchanged: only its costs move.
//
// The place table keeps the edges of a handful of notes: wherever the counts make the thumb the
// cheapest finger at the bottom of five semitones or more of keys around a note, or the little
// finger at their top, learning keeps it so (by a tenth of a nat at least), because the few
// printed fingers there were outweighed by the mistakes of the cells' groups elsewhere.
//
// The cells move by the step in the planner's units: a table of weight w moves by step / w, so
// that each table counts as much as any other; a table of weight 0 is not read by the planner and
// is left alone. The rules keep their sizes. The pieces are taken in an order shuffled afresh on
// each pass by a fixed seed, so a refit gives the same table.
//
// Reads and writes the hands' grids (rightNotes, leftNotes, divisions) and resets the performance
// as planning does; what they held before is lost.

namespace fitted {

// How many rounds of corrections from the lines to keep the averaged table may take.
constexpr int kKeepRounds = 40;

// Passes of `passes` over `pieces` from `counted`, moving cells by `step`: the averaged table
// (with counted.weight[kLearningBags] runs, the mean of that many runs' averaged tables, each
// over the pieces in orders of its own or, with kLearningResample, over a resample of its own;
// then drawn back towards `counted` by the share kLearningPull), then corrected by further updates
// from the fingered lines of `keep` alone until each is planned as fingered (at most kKeepRounds
// rounds over them). With no passes, no step or no pieces, `counted` as it is. The weights and
// rules of `counted` are kept (its learning weights are not read: the arguments say how to learn).
Costs learnCosts(const Costs& counted, const std::vector<const CorpusPiece*>& pieces, int passes,
                 float step, const std::vector<const CorpusPiece*>& keep = {});

// The same, with the passes and the step the table's own learning weights give.
Costs learnCosts(const Costs& counted, const std::vector<const CorpusPiece*>& pieces,
                 const std::vector<const CorpusPiece*>& keep = {});

// The finger the planner gave every placed note of `notes` (after planning, slot k of a note's
// first tick holds finger k's key), as labels countFingerings takes.
std::vector<PrintedFinger> plannedFingers(const std::vector<PlacedNote>& notes);

}  // namespace fitted
