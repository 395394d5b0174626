#pragma once

// What the timeline takes from the piece beyond the grids' keys and times: each note's
// velocity, the sustain pedal, and the practice aids (one hand sounding, the metronome).
// Pure; buildTimeline calls these once.

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "music/piece.h"
#include "timeline/timeline.h"

// General MIDI drum-map notes of the metronome: a high wood block on the first beat of a bar,
// a low one on the others.
constexpr int kClickDownbeat = 76;
constexpr int kClickBeat = 77;
constexpr int kClickDownbeatVelocity = 112;
constexpr int kClickBeatVelocity = 84;

// The velocity of a note of the grids, matched in the piece by hand, key and onset; else a
// note of the piece on that key sounding at that tick (a range that starts inside a held note,
// a note another hand took over); else kDefaultVelocity.
class PieceVelocities {
public:
    explicit PieceVelocities(const Piece* piece);
    int at(int hand, int32_t key, int32_t tick) const;

private:
    const Piece* piece_;
    std::map<std::tuple<int, int32_t, int32_t>, int> exact_;  // (hand, key, tick)
};

// The first tick of every beat from `from` up to `to` (exclusive), with whether it starts a
// bar: beats of the piece's time signatures (compound metres such as 6/8 in dotted beats),
// quarter notes where there is no piece.
struct Beat {
    int32_t tick;
    bool downbeat;
    int32_t length;  // ticks of this beat
};
std::vector<Beat> beatsOf(const ScoreTiming& timing, const Piece* piece, int32_t from, int32_t to);

// The count-in before `from`: how many beats and how many ticks each (the bar that starts at or
// holds `from`).
void countInOf(const ScoreTiming& timing, const Piece* piece, int32_t from, int* beats,
               int32_t* beatTicks);

// Adds the pedal's moves and the metronome's clicks to tl->events and tl->pedal, from the
// options' piece and flags (tl->options already settled, the notes timed). Leaves the events
// unsorted.
void addExpressionEvents(Timeline* tl, const TimelineOptions& options);

// How far the sustain pedal is down at `seconds`: 0 up .. 1 down; -1 when the performance has
// no pedal at all (nothing to show).
double pedalDepthAt(const Timeline& timeline, double seconds);

// The velocities, pedal and dynamic marks of `source` carried onto `played`, a piece of the same
// ticks (the grids of the document the source was prepared into); nothing when source is null.
void carryExpression(const Piece* source, Piece* played);
