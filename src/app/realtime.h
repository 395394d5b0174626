#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "timeline/timeline.h"

// The real-time mode: the planned score played in time with its tempo, in a window that shows
// the whole keyboard from the player's side, with sound. The logic here is pure; the window and
// the sound card are reached through realtime_gl.cpp and the seam below.

// Opens the window and plays; called after startUpSession has loaded and planned the score.
// Returns the exit status: 1 when the options name measures the score does not have or the
// tempo cannot be read (one line on standard error). The quit command ends the process with 0.
int runRealtime(const ProgramOptions& options, int argc, char** argv);

// runRealtime up to the main loop: the window open, its callbacks registered, nothing drawn yet.
// 0, or the exit status of a failure. Benchmarks drive frames from here.
// The tempo and measures are the session's, the title and printed fingers those of its piece.
int openRealtimeWindow(const ProgramOptions& options, const ScoreTiming& timing, const Piece& shown,
                       int argc, char** argv);
// The same for a score a caller loaded itself from `document`, the XML text the reader loaded,
// which nothing else has read: its tempo, measures, title and printed fingers are read from it.
int openRealtimeWindow(const ProgramOptions& options, const std::string& document, int argc,
                       char** argv);
// Called after every frame of the real-time window is on screen, with the wall time (steady
// seconds); nullptr by default. Benchmarks watch the keys through it.
extern void (*realtimeFrameShown)(double wall);

// The sound as the real-time logic sees it. Defaults do nothing (a muted performance).
struct RealtimeSound {
    // Start (on) or stop key 0..87 at this wall time (steady seconds).
    void (*schedule)(int32_t key, bool on, double wall);
    // Drop what is scheduled and stop every sounding note.
    void (*silence)();
    // Every event of the performance (notes with their velocity, the pedal, clicks) at this
    // wall time; when set, it is called instead of `schedule`.
    void (*play)(const PerformanceEvent& event, double wall) = nullptr;
};
extern RealtimeSound realtimeSound;

// How far ahead of the picture note events are handed to the sound: more than the longest frame.
constexpr double kSoundLookAhead = 0.2;
// Stillness before the first note, so its sound can be scheduled ahead like every other.
constexpr double kRealtimeLeadIn = 0.3;
// Time after the last key is up before the performance ends.
constexpr double kRealtimeLeadOut = 0.5;

struct RealtimeState {
    Timeline timeline;
    PerformanceClock clock;
    EventCursor cursor;
    bool playing = false;
    bool loop = false;  // at the end of the range, play it again
};
extern RealtimeState realtime;

// Reads the tempo and measures of `document` (the XML text of a score a caller loaded itself,
// which nothing else has read), resolves --from/--to and --speed, and builds the timeline from
// the planned grids; the performance stands stopped at its start. false with a one-line reason
// (no newline) for measures the score does not have or an unreadable document.
bool prepareRealtime(const ProgramOptions& options, const std::string& document,
                     std::string* error);
// The same with the tempo and measures given (the session's, whatever its source).
bool prepareRealtime(const ProgramOptions& options, const ScoreTiming& timing, std::string* error);

// Play from the start of the range at wall time `wall` (steady seconds).
void realtimePlay(double wall);
// Stop, silence and go back to the start.
void realtimeStop(double wall);
// 10 % faster or slower from this moment, without a jump.
void realtimeFaster(double wall);
void realtimeSlower(double wall);

// Puts the performance as it will stand at wall time `shownAt` (when the frame will be on
// screen) into the drawing's state (keys, hands, tick), and hands the sound the events up to
// kSoundLookAhead seconds after `wall`, the time now. Returns true while playing; at the end of
// the range the performance stops on its last frame.
bool realtimeFrame(double wall, double shownAt);

// A key typed into the real-time window. Returns true when the picture must be drawn again.
// "q" and "Q" end the process through the platform seam.
bool realtimeKey(unsigned char key, double wall);

// The command help of this mode, on standard output.
void printRealtimeHelp();
