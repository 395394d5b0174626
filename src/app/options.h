#pragma once

#include <string>
#include <vector>

#include "export/export_defaults.h"

// The long options of the program. Without any of them the program is the classic one: the
// first argument is the score and every further argument is ignored, exactly as before. As soon
// as an argument names one of these options, the whole command line is read by the parser below.

// What the program is asked to do.
enum class RunMode {
    Classic,   // the classic window: tick clock, the eight-phase step, its commands
    Realtime,  // a window that plays in time with the score's tempo, with sound
    Export,    // a video file, drawn without a display
    Still,     // one picture, drawn without a display
    MidiFile   // the performance written as a Standard MIDI File
};

// Which planner places the hands and fingers.
enum class FingeringChoice {
    Default,  // "simple" in the classic mode, "optimal" in the others
    Simple,   // the region planner of the classic program
    Optimal   // the whole-piece cost-minimising planner
};

// Everything the command line can say. Filled once by parseProgramOptions; read-only afterwards.
struct ProgramOptions {
    RunMode mode = RunMode::Classic;
    bool longOptions = false;        // true when the command line used any long option
    std::string score;               // score path; empty: the bundled default score
    bool prepare = false;            // normalise the score before the reader sees it
    std::vector<std::string> parts;  // --part: ids or 1-based positions; right hand, then left
    FingeringChoice fingering = FingeringChoice::Default;
    bool startPlaying = false;       // --play: start the performance as soon as the window opens
    bool mute = false;               // no sound
    std::string soundfont;           // SoundFont path; empty: the packaged General MIDI one
    double speed = 1.0;              // tempo factor, 0.25 .. 4
    bool repeats = true;             // --no-repeats clears it: every measure played once
    std::string fromMeasure;         // first measure to play (its number as written); empty: start
    std::string toMeasure;           // last measure to play; empty: the end
    std::string outputPath;          // --export or --still: the file to write
    int width = kDefaultFrameWidth;  // --size W x H of the exported frames, pixels
    int height = kDefaultFrameHeight;
    int fps = kDefaultFps;          // --fps: frames per second of an export
    std::string at;                 // --at: the position of a still (see the help text)
    std::string camera = "player";  // --camera: player, above, side or follow
    std::string colors;             // --colors: the hands' colours; empty: the defaults
    std::string skin;               // --skin: the hands' skin tone; empty: the default
    int splitKey = -1;  // --split: a MIDI file's notes from this key (0..87) up to the right hand
    int hand = -1;      // --hand: 0 right, 1 left: only that hand sounds and is drawn; -1 both
    bool loop = false;  // --loop: the window plays the range again and again
    bool metronome = false;  // --metronome: a click on the beats, a bar of count-in
};

// Outcome of reading the command line.
enum class ParseOutcome {
    Run,    // go on with the options
    Exit0,  // --help or --version was printed; end with status 0
    Exit1   // a usage error was printed on standard error; end with status 1
};

// True when argv holds an argument that names one of the long options (so the classic argument
// handling does not apply).
bool hasLongOption(int argc, char** argv);

// The classic command line takes its first argument for the score: when that argument is a
// long option this program does not know (a mistyped --exprt), prints "unknown option NAME;
// see --help" on standard error and returns true (the caller ends with status 1). Words after
// the score are ignored as they always were.
bool refuseUnknownFirstOption(int argc, char** argv);

// Reads argv into *options. Every unknown long option is refused in one line. Prints --help on
// standard output, usage errors (one line) on standard error.
ParseOutcome parseProgramOptions(int argc, char** argv, ProgramOptions* options);
