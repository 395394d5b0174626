#include "audio/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <deque>

#include "audio/synth_setup.h"

namespace {
constexpr int kChannels = 2;

// Measuring frames at a time keeps the meter's calls few without copying the track.
constexpr size_t kChunkFrames = 1 << 16;

// The peak limiter that holds the rare loudest chords under the ceiling: it looks 2 ms ahead
// and behind, goes down over 2 ms and comes back over 80 ms, too quick and too rare on a piano
// to be heard as pumping.
constexpr double kLimiterLookAhead = 0.002;  // seconds
constexpr double kLimiterAttack = 0.002;     // seconds
constexpr double kLimiterRelease = 0.08;     // seconds
// The limiter's sample ceiling starts this far below the true-peak ceiling: a peak between
// two samples (and the encoder's own overshoot) can rise a little above the samples.
constexpr double kCeilingMargin = 0.5;  // dB
// Rounds of gain and limiting, and how close to the target a round must come to stop.
constexpr int kNormaliseRounds = 4;
constexpr double kLoudnessTolerance = 0.2;  // LU
}  // namespace

bool measureLoudness(const std::vector<float>& stereo, int sampleRate, Loudness* loudness,
                     std::string* error) {
    *loudness = Loudness{};
    if (sampleRate <= 0 || stereo.size() % kChannels != 0) {
        *error = "cannot measure the loudness of a track without whole stereo frames";
        return false;
    }
    ebur128_state* meter = nullptr;
    if (audioCall(true)) {
        meter = ebur128_init(kChannels, static_cast<unsigned long>(sampleRate),
                             EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    }
    if (meter == nullptr) {
        *error = "the loudness meter could not be set up";
        return false;
    }
    const size_t frames = stereo.size() / kChannels;
    bool ok = true;
    for (size_t done = 0; done < frames && ok; done += kChunkFrames) {
        const size_t count = std::min(kChunkFrames, frames - done);
        ok = audioCall(ebur128_add_frames_float(meter, stereo.data() + done * kChannels, count) ==
                       EBUR128_SUCCESS);
    }
    double integrated = 0.0;
    double peaks[kChannels] = {0.0, 0.0};
    ok = ok && audioCall(ebur128_loudness_global(meter, &integrated) == EBUR128_SUCCESS);
    for (int c = 0; c < kChannels && ok; ++c) {
        ok = audioCall(ebur128_true_peak(meter, static_cast<unsigned>(c), &peaks[c]) ==
                       EBUR128_SUCCESS);
    }
    ebur128_destroy(&meter);
    if (!ok) {
        *error = "the loudness meter failed";
        return false;
    }
    const double peak = std::max(peaks[0], peaks[1]);
    loudness->integrated = std::isfinite(integrated) ? integrated : -HUGE_VAL;
    loudness->truePeak = peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
    return true;
}

double normalisingGain(const Loudness& measured, double target, double ceiling) {
    if (!std::isfinite(measured.integrated) || !std::isfinite(measured.truePeak)) {
        return 0.0;  // silence: nothing to bring up
    }
    return std::min(target - measured.integrated, ceiling - measured.truePeak);
}

namespace {
// Multiplies every sample by `decibels`.
void applyGain(std::vector<float>* stereo, double decibels) {
    const float factor = static_cast<float>(std::pow(10.0, decibels / 20.0));
    for (float& sample : *stereo) {
        sample *= factor;
    }
}

// Lowers the gain around every frame whose sample peak lies above `ceilingDb` dBFS.
void limitPeaks(std::vector<float>* stereo, int sampleRate, double ceilingDb) {
    const size_t frames = stereo->size() / kChannels;
    if (frames == 0) {
        return;
    }
    const double ceiling = std::pow(10.0, ceilingDb / 20.0);
    // The gain each frame needs on its own.
    std::vector<float> gain(frames);
    bool any = false;
    for (size_t i = 0; i < frames; ++i) {
        const double peak = std::max(std::fabs((*stereo)[2 * i]), std::fabs((*stereo)[2 * i + 1]));
        gain[i] = peak > ceiling ? static_cast<float>(ceiling / peak) : 1.0f;
        any = any || peak > ceiling;
    }
    if (!any) {
        return;
    }
    // Looking ahead and behind: the least gain within the window around each frame, so the
    // gain is already down when a peak arrives (a sliding minimum, in linear time).
    const size_t reach = static_cast<size_t>(kLimiterLookAhead * sampleRate);
    std::vector<float> least(frames);
    std::deque<size_t> window;  // frames in the window, gains increasing
    size_t next = 0;
    for (size_t i = 0; i < frames; ++i) {
        const size_t last = std::min(frames - 1, i + reach);
        for (; next <= last; ++next) {
            while (!window.empty() && gain[window.back()] >= gain[next]) {
                window.pop_back();
            }
            window.push_back(next);
        }
        while (window.front() + reach < i) {
            window.pop_front();
        }
        least[i] = gain[window.front()];
    }
    // The gain comes back slowly after a peak (release) and goes down smoothly before it
    // (attack, a backward pass); both only lower it, so no frame exceeds the ceiling.
    const float release = static_cast<float>(1.0 - std::exp(-1.0 / (kLimiterRelease * sampleRate)));
    const float attack = static_cast<float>(1.0 - std::exp(-1.0 / (kLimiterAttack * sampleRate)));
    for (size_t i = 1; i < frames; ++i) {
        least[i] = std::min(least[i], least[i - 1] + (1.0f - least[i - 1]) * release);
    }
    for (size_t i = frames - 1; i-- > 0;) {
        least[i] = std::min(least[i], least[i + 1] + (1.0f - least[i + 1]) * attack);
    }
    for (size_t i = 0; i < frames; ++i) {
        (*stereo)[2 * i] *= least[i];
        (*stereo)[2 * i + 1] *= least[i];
    }
}

}  // namespace

bool normaliseLoudness(std::vector<float>* stereo, int sampleRate, Loudness* before,
                       Loudness* after, std::string* error) {
    Loudness measured;
    if (!measureLoudness(*stereo, sampleRate, &measured, error)) {
        return false;
    }
    if (before != nullptr) {
        *before = measured;
    }
    // Bring the level to the target, then hold the rare loud peaks under the ceiling. Limiting
    // lowers the level a little, so a few rounds settle both; a peak that falls between
    // samples lowers the sample ceiling of the next round.
    double sampleCeiling = kPeakCeiling - kCeilingMargin;
    for (int round = 0; round < kNormaliseRounds && std::isfinite(measured.integrated); ++round) {
        const double gain = kTargetLoudness - measured.integrated;
        if (std::fabs(gain) < kLoudnessTolerance && measured.truePeak <= kPeakCeiling) {
            break;
        }
        applyGain(stereo, gain);
        limitPeaks(stereo, sampleRate, sampleCeiling);
        if (!measureLoudness(*stereo, sampleRate, &measured, error)) {
            return false;
        }
        if (measured.truePeak > kPeakCeiling) {
            sampleCeiling -= measured.truePeak - kPeakCeiling + 0.1;
        }
    }
    if (std::isfinite(measured.truePeak) && measured.truePeak > kPeakCeiling) {
        applyGain(stereo, kPeakCeiling - measured.truePeak);  // never leave a peak above it
        if (!measureLoudness(*stereo, sampleRate, &measured, error)) {
            return false;
        }
    }
    if (after != nullptr) {
        *after = measured;
    }
    return true;
}
