#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "music/piece.h"

// The performance in musical time. The planned grids (rightNotes/leftNotes, slot k = finger k)
// and plans (rightPlan/leftPlan) are turned once into notes with onsets and releases in seconds,
// hand moves and finger glides; performanceAt then answers what keys and hands look like at any
// moment, as a pure function of the timeline and the time. Nothing here needs a window.

// ---- Tempo and measures of the loaded document ----

// From `tick` on, the music goes at `quartersPerMinute`: the Piece's tempo change.
using TempoChange = PieceTempo;

// Where a measure of the piano part starts, by the number written in the score.
struct MeasureStart {
    std::string number;
    int32_t tick;
};

// Quarter notes a minute when the score states no tempo.
constexpr double kDefaultQuartersPerMinute = 120.0;

// A note written as tied on from the note of the same key before it (<tie type="stop"/>).
struct TiedOn {
    int32_t key;   // 0..87
    int32_t tick;  // its first tick
    bool operator<(const TiedOn& o) const { return key != o.key ? key < o.key : tick < o.tick; }
};

struct ScoreTiming {
    int32_t divisions = 0;               // ticks per quarter note (first divisions of the piano)
    std::vector<TempoChange> tempo;      // sorted by tick, the first at tick 0
    std::vector<MeasureStart> measures;  // the piano part's measures in order
    int32_t endTick = 0;                 // one past the piano part's last tick
    std::vector<TiedOn> tiedOn;          // sorted; the performance holds these on, unstruck
};

// Tempo and measure starts of the document the reader loaded (strict form or prepared), placed
// with the reader's own cursor rules: tick 0 is the grids' first tick. false with a one-line
// reason in *error (no newline) when it is not XML or has no piano part with divisions.
bool readScoreTiming(const char* xml, size_t size, ScoreTiming* timing, std::string* error);

// Seconds from tick 0 to `tick` (fractional ticks allowed) at speed 1, over a tempo map as
// readScoreTiming makes it (sorted, positive tempi). The first tempo also governs ticks before
// 0. A timing without divisions counts one tick as one quarter note.
double tickToSeconds(const ScoreTiming& timing, double tick);
// The inverse: the (fractional) tick reached after `seconds` at speed 1.
double secondsToTick(const ScoreTiming& timing, double seconds);

// Measure number -> its first tick (first measure whose number equals the text); -1 when none.
int32_t measureTick(const ScoreTiming& timing, const std::string& number);
// One past the last tick of that measure (start of the next measure, or endTick); -1 when none.
int32_t measureEndTick(const ScoreTiming& timing, const std::string& number);
// The number of the measure holding `tick` ("" when the timing has no measures).
std::string measureAt(const ScoreTiming& timing, int32_t tick);

// The one reading of a --from/--to range (measure numbers as printed, "n:k" for the k-th
// playing of n; "" for the start or the end): the first tick played and one past the last
// (-1: the end). False with the message every mode gives: a measure the score lacks, or a
// range that ends before it starts.
bool measureRange(const ScoreTiming& timing, const std::string& fromMeasure,
                  const std::string& toMeasure, int32_t* fromTick, int32_t* toTick,
                  std::string* error);
// The message for a measure number the score does not have.
std::string noSuchMeasure(const std::string& number);

// ---- The timeline ----

struct TimedNote {
    int hand;         // 0 right, 1 left
    int finger;       // 0 thumb .. 4 little (slot of the planned grid)
    int32_t key;      // 0..87
    int32_t tick;     // first tick
    int32_t endTick;  // one past its last tick
    double onset;     // seconds from the start of the performance (lead-in included)
    double release;   // seconds: when the sound stops
    double keyUp;     // seconds: when the key is back up: the release, or kMinimumHeld after
                      // the onset if later, but never after the key's next onset
    int velocity = kDefaultVelocity;  // 1..127, from the piece the options name
    bool silent = false;  // shown but not sounded: the other hand's note in a one-hand practice
};

// A note too short to be seen is still shown down this long: two frames at 60 frames a second.
constexpr double kMinimumHeld = 0.034;

struct TimelineOptions {
    double speed = 1.0;    // tempo factor (2: twice as fast)
    int32_t fromTick = 0;  // first tick played
    int32_t toTick = -1;   // one past the last tick played; -1: the end
    double leadIn = 0.0;   // seconds of stillness before the first tick
    double leadOut = 0.0;  // seconds after the last key is up
    // The piece the grids were made from: each note's velocity and the sustain pedal come from
    // it (read while building only; the timeline keeps no pointer). None: every note at
    // kDefaultVelocity, no pedal.
    const Piece* piece = nullptr;
    int soundedHand = -1;    // 0 or 1: only that hand sounds, the other is silent; -1 both
    bool metronome = false;  // a click on every beat, after a bar of count-in before the range
};

// What a sound event does.
enum class EventKind {
    Note,   // a key's note-on or note-off
    Pedal,  // the sustain pedal moves to `velocity` (0 up .. 127 down)
    Click   // a metronome click: percussion note `key` (General MIDI drum map) at `velocity`
};

// A sound event for the synthesiser.
struct PerformanceEvent {
    double seconds;  // performance time
    bool on;         // note-on, else note-off (a pedal: down, else up)
    int hand;        // 0 right, 1 left
    int32_t key;     // 0..87 (the MIDI note number less 21)
    EventKind kind = EventKind::Note;
    int velocity = kDefaultVelocity;  // a note-on's velocity, a pedal's depth, a click's force
};

// One move of a hand's centre along the keyboard: from `fromX` at `start` to `toX` at `end`
// (eased in and out); the hand is still outside its moves.
struct HandMove {
    double start;
    double end;
    float fromX;
    float toX;
};

// A span of ticks in which one finger holds one key (slot k of consecutive ticks). A held note
// that the planner hands to another finger part way through makes two runs.
struct FingerRun {
    int32_t key;
    int32_t startTick;
    int32_t endTick;  // one past its last tick
    double start;     // seconds: time of startTick
    double end;       // seconds: when the finger may leave the key (its note's keyUp when the
                      // run ends the note, capped by the finger's next run)
    size_t note;      // index into Timeline::notes of the note it plays
};

struct HandTrack {
    HandState startPose;             // the hand as it was when the timeline was built
    float startX = 0.0f;             // x before the first move: the plan at fromTick
    std::vector<HandMove> moves;     // in time order, not overlapping
    std::vector<FingerRun> runs[5];  // per finger, in tick order
};

struct Timeline {
    std::vector<TimedNote> notes;          // sorted by onset, then hand, then key
    std::vector<PerformanceEvent> events;  // sorted by time; at equal times note-offs first,
                                           // then pedal moves, then note-ons and clicks
    std::vector<PiecePedal> pedal;         // the pedal's moves, `seconds` in performance time; the
                                           // first at the range's start when it is down there
    HandTrack hands[2];                    // 0 right, 1 left
    double duration = 0.0;                 // seconds: lead-in, the range, the last key up, lead-out
    ScoreTiming timing;
    TimelineOptions options;            // as given; speed made positive, range clamped to the grids
    std::vector<double> tempoSeconds;   // per tempo change, its time at speed 1
    double startSeconds = 0.0;          // time of fromTick at speed 1
    int32_t gridTicks = 0;              // length of the grids when built
    std::vector<size_t> keyNotes[88];   // per key, indices into notes by onset
    std::vector<double> keyOnsets[88];  // beside keyNotes: the notes' onsets
    std::vector<double> keyNotesUp[88];  // beside keyNotes: the latest keyUp up to that note
};

// A tempo map out of order or holding tempi that are not positive is sorted and cleaned first.
// From the planned grids and plans (rightNotes/leftNotes, slot k = finger k; rightPlan/leftPlan),
// the hands as they stand (their start pose) and the score's timing. The range is clamped to
// the grids.
Timeline buildTimeline(const ScoreTiming& timing, const TimelineOptions& options);

// Performance seconds at which `tick` (fractional allowed) sounds; inverse: tickAtTime.
double timeOfTick(const Timeline& timeline, double tick);
double tickAtTime(const Timeline& timeline, double seconds);

// What keys and hands look like at `seconds`.
struct PerformanceFrame {
    float keyAngle[88];     // degrees, 0 up .. 10 fully down
    HandState right, left;  // as the drawing expects them (animation/animation.h)
    int32_t tick;           // the score tick sounding at that moment (for the drawing); during
                            // the lead-in fromTick, after the range the range's last tick; for
                            // an empty range the grids' length, where the drawing aims nothing
};

// Pure: the same timeline and time always give the same frame, whatever the frame rate.
void performanceAt(const Timeline& timeline, double seconds, PerformanceFrame* frame);

// Writes a frame into keyStates, rightHand, leftHand and currentTick so that the existing
// drawing (drawScene) shows exactly it. keyStates must hold 88 records.
void applyFrame(const PerformanceFrame& frame);

// ---- Clock and event scheduling for live play ----

// Wall-clock time (any steady seconds the caller reads) -> performance time. Pure: the caller
// passes the wall time to every call.
struct PerformanceClock {
    double start = 0.0;  // performance time of the range start (usually 0)
    double end = 0.0;    // performance time at which play stops (timeline.duration)
    double rate = 1.0;   // performance seconds per wall second
    bool running = false;
    double anchorWall = 0.0;  // wall time at the last start, stop or rate change
    double anchorTime = 0.0;  // performance time at that moment
};

// Largest and smallest rate the faster/slower steps reach; --speed takes the same range.
constexpr double kMaxClockRate = 4.0;
constexpr double kMinClockRate = 0.25;

PerformanceClock makeClock(double start, double end);
// Performance time at wall time `wall`, within [start, end].
double clockTime(const PerformanceClock& clock, double wall);
// True once the clock has reached its end.
bool clockFinished(const PerformanceClock& clock, double wall);
// Starts (or resumes) at `wall`; at the end it starts over from the start.
void clockPlay(PerformanceClock* clock, double wall);
// Stops, keeping the position.
void clockPause(PerformanceClock* clock, double wall);
// Back to the start, stopped.
void clockRewind(PerformanceClock* clock, double wall);
// Jumps to a performance time (clamped), keeping play or pause.
void clockSeek(PerformanceClock* clock, double wall, double time);
// Rate times 1.1 (faster) or divided by 1.1 (slower), within the limits; no jump in position.
void clockFaster(PerformanceClock* clock, double wall);
void clockSlower(PerformanceClock* clock, double wall);

// Walks the timeline's events in order as performance time advances.
struct EventCursor {
    size_t next = 0;  // index of the first event not yet delivered
};

// Puts the cursor at the first event at or after `seconds` (after a seek or rewind; the caller
// silences what was sounding).
void cursorSeek(EventCursor* cursor, const Timeline& timeline, double seconds);
// Appends to *out every event before `until` not yet delivered, in order, and moves past them;
// at or past the timeline's duration every event left is delivered.
void cursorAdvance(EventCursor* cursor, const Timeline& timeline, double until,
                   std::vector<PerformanceEvent>* out);
