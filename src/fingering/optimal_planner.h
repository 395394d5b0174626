#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fingering/fitted_costs.h"
#include "fingering/fitted_second.h"

// A second planner for both hands. Where the region planner cuts the keyboard into five fixed
// regions, this one chooses the finger of every note by minimising a cost over the whole piece:
// a dynamic programme over each hand's sequence of onsets (single notes and chords together with
// the notes still held), whose state is the finger of every sounding note, at the onset and at
// the one before (so a line's note can be costed given the fingers of the two notes before it). The cost rules (spans
// between finger pairs, the thumb and little finger on black keys, passing the thumb under and a
// finger over it, repeated notes, position changes, chords fingered across the hand) are a small
// table in optimal_planner.cpp. The hand's centre then follows the fingers, so that every finger
// reaches its key with the hand model's solvers.
//
// It fills the same structures as the region planner: slot k of every tick of rightNotes and
// leftNotes belongs to finger k, and rightPlan / leftPlan hold one centre per tick. No note is
// dropped: every note a grid holds is still there afterwards, in its finger's slot.

// A finger printed in the score for one note: the note of `hand` (0 right, 1 left) whose first
// tick is `tick` on `key`; `finger` 0 thumb .. 4 little finger.
struct PrintedFinger {
    int hand;
    int32_t tick;
    int32_t key;
    int finger;
};

// Plans both hands over rightNotes / leftNotes and fills rightPlan / leftPlan. A note with a
// printed finger gets that finger whenever the notes sounding with it leave it free (two printed
// fingers in one chord that contradict the order of the keys cannot both be kept); the other notes
// are planned around it. Reads KeyLayout and the hands' poses in rightHand / leftHand (their
// depth and height decide how far each finger reaches). Clears rightFallbackTicks and
// leftFallbackTicks, since no note is pushed out.
// The costs are the fitted table compiled into the program (fitted_costs.h), blended with the
// hand-set rules as its weights say, and an identical figure (the same keys and rhythm over
// nine onsets) keeps the fingering its first occurrence got unless printed fingers say otherwise.
void planHandsOptimal(const std::vector<PrintedFinger>& printed);

// Which costs the planner uses: the fitted table, or the hand-set rules alone (the first version
// of this planner, kept to measure against).
enum class OptimalCosts { Fitted, HandSet };
void planHandsOptimal(const std::vector<PrintedFinger>& printed, OptimalCosts costs);
// With a table other than the compiled-in one (for choosing the blend weights while fitting).
void planHandsOptimalWith(const std::vector<PrintedFinger>& printed, const fitted::Costs& costs);

// The same, told where the measures start (first ticks, rising; the score's timing gives them):
// a measure played again (the same keys, held or struck, at the same times from its start) is
// then fingered as its first occurrence was, wherever it stands, unless printed fingers or notes
// held across its bar lines differ. Without them only figures in identical surroundings are.
void planHandsOptimal(const std::vector<PrintedFinger>& printed,
                      const std::vector<int32_t>& measureStarts);
void planHandsOptimal(const std::vector<PrintedFinger>& printed, OptimalCosts costs,
                      const std::vector<int32_t>& measureStarts);
void planHandsOptimalWith(const std::vector<PrintedFinger>& printed, const fitted::Costs& costs,
                          const std::vector<int32_t>& measureStarts);

// Transitions between two onsets' assignments the last planning evaluated, both hands and every
// pass: the planner's work, which grows linearly with the number of onsets.
size_t optimalPlanSteps();
// Second-order costs (a line's note given the fingers of the two notes before it) the last
// planning evaluated: at most 125 per note of a line and pass, also linear.
size_t optimalSecondOrderSteps();

// Adds to `counts` the fingers of every line of three single notes in a row whose three notes
// `labels` all finger, in the contexts of the second-order table (fitted_second.h).
void countSecondOrder(const std::vector<PrintedFinger>& labels, fitted::SecondCounts* counts);

// Adds to `counts` what the grids show with `labels` as the fingers played: each transition
// between fingered notes of neighbouring onsets, each fully fingered chord, each fingered line
// end and each fingered single note's figure and place, in the contexts the fitted table is
// indexed by.
// Uses the grids and divisions only.
void countFingerings(const std::vector<PrintedFinger>& labels, fitted::Counts* counts);

// Horizontal reach of one digit with the hand model: the fingertip target's x relative to the
// hand's centre (scene units) must lie within [low, high] for the finger solver to reach it
// without its reach correction, on a white or a black key, at the deepest point of a press.
struct ReachInterval {
    float low;
    float high;
};
// hand 0 right, 1 left; finger 0..4. Uses the hand's current pose (rightHand / leftHand).
ReachInterval fingerReach(int hand, int finger, bool black);

// How far below the palm the fingertip is at the deepest point of a press on a white or a black
// key, in the units of HandState's z: the press level plus three travel steps, after which the key
// is fully down. The reach above is computed for this height.
float deepestFingerHeight(float palmHeight, bool black);
