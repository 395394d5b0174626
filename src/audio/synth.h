#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/fault_counter.h"

struct Timeline;

// The synthesiser behind every sound the program makes: a General MIDI piano from a SoundFont,
// set up the same way for live play and for rendering into memory, so an exported sound track
// sounds like the window.

// The packaged General MIDI SoundFont: FluidR3_GM.sf2, else default-GM.sf2, else TimGM6mb.sf2
// under /usr/share/sounds/sf2; "" when none of them can be read.
std::string defaultSoundfontPath();

// One note to sound: key 0..87 (A0..C8), note-on and note-off in seconds from the start.
struct SoundNote {
    int32_t key;
    double onset;
    double release;
    int velocity = 90;  // 1..127; 90 the firm mezzo-forte of a source without dynamics
};

// The sustain pedal moving (controller 64 to `value`, 0 up .. 127 down), or a metronome click
// (`click`: General MIDI percussion note `drumNote` at velocity `value`).
struct SoundControl {
    double seconds;
    bool click;
    int value;
    int drumNote;
};

// Sample rates the synthesiser accepts.
constexpr int kMinSampleRate = 8000;
constexpr int kMaxSampleRate = 96000;

// Renders the notes into interleaved stereo float samples (left, right, left, ...) at
// sampleRate, exactly `duration` seconds long (rounded up to whole sample frames). Notes with a
// key outside 0..87 or times that are not finite are left out; a note-off comes before a note-on
// of the same key at the same moment. false with a one-line reason in *error (no newline) when
// the SoundFont cannot be loaded, the rate or duration is out of range, or the synthesiser fails.
bool renderNotesAudio(const std::vector<SoundNote>& notes, double duration,
                      const std::string& soundfont, int sampleRate, std::vector<float>* stereo,
                      std::string* error);

// The same with the pedal's moves and clicks beside the notes; at one moment note-offs come
// first, then the pedal lifted, the pedal pressed, then note-ons and clicks.
bool renderPerformanceAudio(const std::vector<SoundNote>& notes,
                            const std::vector<SoundControl>& controls, double duration,
                            const std::string& soundfont, int sampleRate,
                            std::vector<float>* stereo, std::string* error);

// Every note of the timeline rendered as above (a silent note left out) with its velocity, the
// pedal and the clicks, timeline.duration seconds long.
bool renderTimelineAudio(const Timeline& timeline, const std::string& soundfont, int sampleRate,
                         std::vector<float>* stereo, std::string* error);

// Writes interleaved stereo samples as a 16-bit PCM WAV file (samples clipped to -1..1). false
// with a one-line reason in *error when the file cannot be written; a partly written file is
// removed.
bool writeWav(const std::string& path, const std::vector<float>& stereo, int sampleRate,
              std::string* error);

// ---- Test hooks: fault injection. Read and written by tests; the program leaves them at 0. ----
extern FaultCounter audioFaults;   // fallible synthesiser and file calls
extern long& audioCallsMade;       // audioFaults.made
extern long& audioFailCallNumber;  // audioFaults.failAt
