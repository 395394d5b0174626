// The performance's expression as heard: a louder velocity sounds louder, a note let go while
// the pedal is down rings on until the pedal lifts, and the metronome's clicks are heard.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/synth.h"

namespace {
constexpr int kRate = 22050;

// Root mean square of both channels from `from` to `to` seconds.
double rms(const std::vector<float>& stereo, double from, double to) {
    const size_t a = static_cast<size_t>(from * kRate) * 2;
    const size_t b = std::min(stereo.size(), static_cast<size_t>(to * kRate) * 2);
    double sum = 0.0;
    for (size_t i = a; i < b; ++i) {
        sum += static_cast<double>(stereo[i]) * stereo[i];
    }
    return b > a ? std::sqrt(sum / static_cast<double>(b - a)) : 0.0;
}

std::vector<float> render(const std::vector<SoundNote>& notes,
                          const std::vector<SoundControl>& controls, double seconds) {
    std::vector<float> stereo;
    std::string error;
    EXPECT_TRUE(renderPerformanceAudio(notes, controls, seconds, defaultSoundfontPath(), kRate,
                                       &stereo, &error))
        << error;
    return stereo;
}
}  // namespace

TEST(ExpressionSound, VelocityPedalAndClicksAreHeard) {
    ASSERT_FALSE(defaultSoundfontPath().empty()) << "no General MIDI SoundFont is installed";
    // Middle C, struck soft and loud: the loud one is clearly louder over its first half second.
    const double soft = rms(render({{39, 0.0, 0.5, 35}}, {}, 0.6), 0.0, 0.5);
    const double loud = rms(render({{39, 0.0, 0.5, 110}}, {}, 0.6), 0.0, 0.5);
    EXPECT_GT(loud, soft * 2.0) << "soft " << soft << ", loud " << loud;

    // Struck for a tenth of a second; with the pedal down until 1.0 s it still rings at 0.5 s
    // and stops once the pedal lifts.
    const std::vector<SoundNote> shortNote = {{39, 0.0, 0.1, 90}};
    const std::vector<float> dry = render(shortNote, {}, 1.6);
    const std::vector<float> held =
        render(shortNote, {{0.0, false, 127, 0}, {1.0, false, 0, 0}}, 1.6);
    const double dryLate = rms(dry, 0.5, 0.9);
    const double heldLate = rms(held, 0.5, 0.9);
    EXPECT_GT(heldLate, dryLate * 10.0) << "dry " << dryLate << ", held " << heldLate;
    EXPECT_LT(rms(held, 1.4, 1.6), heldLate * 0.2);  // lifted: the ringing stops

    // A pedal change at 0.5 s: the note struck before it stops ringing, the one struck with it
    // rings on.
    const std::vector<float> changed =
        render({{39, 0.0, 0.1, 90}, {51, 0.5, 0.6, 90}},
               {{0.0, false, 127, 0}, {0.5, false, 0, 0}, {0.5, false, 127, 0}}, 1.4);
    const std::vector<float> second = render({{51, 0.5, 0.6, 90}}, {{0.5, false, 127, 0}}, 1.4);
    // After the change only the second note sounds: the mix is the second note alone.
    EXPECT_NEAR(rms(changed, 0.9, 1.3), rms(second, 0.9, 1.3), rms(second, 0.9, 1.3) * 0.35);
    EXPECT_GT(rms(changed, 0.9, 1.3), dryLate * 10.0);

    // Clicks on the percussion channel, no piano at all.
    const std::vector<float> clicks = render({}, {{0.1, true, 112, 76}, {0.6, true, 84, 77}}, 1.0);
    EXPECT_GT(rms(clicks, 0.1, 0.2), 1e-3);
    EXPECT_GT(rms(clicks, 0.6, 0.7), 1e-3);
    EXPECT_LT(rms(clicks, 0.0, 0.09), 1e-6);
}
