#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Live play: the same piano as the offline renderer, through the sound card. Note events are
// handed over ahead of time with a timestamp, and the synthesiser's sequencer starts each one
// inside the audio block where it falls, so a note sounds at its own moment rather than at the
// frame that happened to send it. One player for the whole program.

struct LiveSoundOptions {
    std::string soundfont;                                   // SoundFont 2 file to load
    std::vector<std::string> drivers{"pulseaudio", "alsa"};  // tried in this order
    std::string fileOutput = "/dev/null";  // where the "file" driver writes (benchmarks)
};

// Loads the SoundFont and opens the first audio driver that works. false with a one-line reason
// in *error (no newline) when the SoundFont cannot be loaded or no driver can be opened; then
// nothing is left open. Opening again first closes the open player.
bool openLiveSound(const LiveSoundOptions& options, std::string* error);
// True between a successful openLiveSound and closeLiveSound.
bool liveSoundOpen();
// The driver in use ("" when closed).
std::string liveSoundDriver();
// Stops the driver and frees the synthesiser.
void closeLiveSound();

// Steady wall-clock seconds: the time base of liveSoundSchedule.
double liveSoundWallNow();
// Starts (on) or stops (off) key 0..87 at wall time `wall` (liveSoundWallNow's clock); a time
// already past sounds at once. Nothing happens while closed or for keys outside 0..87.
void liveSoundSchedule(int32_t key, bool on, double wall);
// The same with the note's velocity (1..127).
void liveSoundScheduleNote(int32_t key, bool on, int velocity, double wall);
// The sustain pedal (controller 64) to `value`, 0 up .. 127 down, at wall time `wall`.
void liveSoundSchedulePedal(int value, double wall);
// A metronome click: General MIDI percussion note `drumNote` at `velocity`.
void liveSoundScheduleClick(int drumNote, int velocity, double wall);
// Drops every event not yet sounded, lifts the pedal and stops every sounding note at once.
void liveSoundSilence();

// ---- Benchmark hook: when the notes really reached the synthesiser. ----
struct SoundDispatch {
    int32_t key;
    bool on;
    double wall;  // liveSoundWallNow's clock
};
void liveSoundRecordDispatches(bool record);
std::vector<SoundDispatch> liveSoundTakeDispatches();
