#pragma once

#include <cmath>
#include <string>
#include <vector>

// Loudness of a rendered sound track by EBU R128 (libebur128): integrated loudness in LUFS and
// true peak in dBTP, and the gain that brings a track to a target level, so that an exported
// performance sounds as loud as other videos without clipping.

// Integrated loudness a whole piece is brought to: the level of the streaming services and of
// EBU R128's guidance for programmes listened to on their own.
constexpr double kTargetLoudness = -16.0;  // LUFS
// Highest true peak allowed after the gain: one decibel below full scale leaves room for the
// overshoot of lossy encoders.
constexpr double kPeakCeiling = -1.0;  // dBTP

// The live player cannot look ahead at the piece to set its level, so it plays at a fixed gain
// above the rendered level: the most that keeps the bundled sonata's loudest chord under full
// scale (it then plays at about -17.5 LUFS, the real exports at -18 to -23; bench_loudness).
constexpr double kLiveGainDecibels = 7.0;

struct Loudness {
    double integrated = -HUGE_VAL;  // LUFS; -inf for silence
    double truePeak = -HUGE_VAL;    // dBTP, the louder channel; -inf for silence
};

// Measures interleaved stereo samples. false with a one-line reason when the meter fails.
bool measureLoudness(const std::vector<float>& stereo, int sampleRate, Loudness* loudness,
                     std::string* error);

// The gain in decibels that brings `measured` to `target` LUFS, lowered where needed so that
// the true peak stays at or below `ceiling` dBTP; 0 for silence.
double normalisingGain(const Loudness& measured, double target, double ceiling);

// Brings the track in place to kTargetLoudness with its true peak at or below kPeakCeiling:
// a gain, and a look-ahead peak limiter on the rare peaks the gain would lift above the ceiling
// (a piano's loudest chords stand out far above its level). *before and *after (when given)
// receive the measurements. false with a one-line reason.
bool normaliseLoudness(std::vector<float>* stereo, int sampleRate, Loudness* before,
                       Loudness* after, std::string* error);
