#pragma once

#include <fluidsynth.h>

#include <string>

// Shared by the offline renderer and the live player, so both sound the same. Internal to the
// audio module.

constexpr int kPianoChannel = 0;
constexpr int kNoteVelocity = 90;  // a note given without a velocity: a firm mezzo-forte
constexpr int kSustainController = 64;
constexpr int kClickChannel = 9;  // the General MIDI percussion channel: the metronome's clicks
constexpr int kMidiKeyOfKeyZero = 21;  // key 0 (A0) is MIDI note 21
// The synthesiser's own output gain: low enough that a dense chord does not clip inside it; an
// export is brought to its loudness afterwards (loudness.h), the live player raised at once.
constexpr double kSynthGain = 0.6;

// Counts one fallible call (see audioFailCallNumber) and returns `ok`, or false when the test
// hook fails this call.
bool audioCall(bool ok);
// Why the last call failed: the injected failure, or the text of errno.
std::string audioFailureText();

// Routes the synthesiser's own log into a buffer instead of standard error; the program says
// what went wrong in one line of its own.
void quietSynthLog();
// The synthesiser's last error or warning message, "" when none (and clears it).
std::string takeSynthMessage();

struct SynthSetup {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
};

// Settings, synthesiser, SoundFont loaded and the piano selected on kPianoChannel. On failure
// everything made so far is freed and *error says why.
bool createPianoSynth(const std::string& soundfont, int sampleRate, SynthSetup* setup,
                      std::string* error);
// The General MIDI drum kit on the percussion channel, for the metronome's clicks.
void selectClickKit(SynthSetup* setup);
// Frees what createPianoSynth made (safe on an empty setup).
void destroyPianoSynth(SynthSetup* setup);
