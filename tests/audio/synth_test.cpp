// The piano as heard: a short score rendered through the timeline into a WAV file, its notes
// found again in the sound at the tempo map's times and at the right pitch; every failure of the
// synthesiser or the file is reported in one line.

#include "audio/synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/timeline.h"

namespace {

constexpr int kRate = 44100;
const char* kPitchSteps[12] = {"A", "A", "B", "C", "C", "D", "D", "E", "F", "F", "G", "G"};
const int kPitchAlters[12] = {0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1};

// One note of a generated staff: a key sounding `length` ticks, then a rest of `rest` ticks.
struct StaffNote {
    int key;
    int length;
    int rest;
};

std::string noteXml(int key, int length, int staff) {
    int fromC0 = key + 9;  // key 0 is A0
    std::string alter = kPitchAlters[key % 12] ? "<alter>1</alter>" : "";
    return "<note><pitch><step>" + std::string(kPitchSteps[key % 12]) + "</step>" + alter +
           "<octave>" + std::to_string(fromC0 / 12) + "</octave></pitch><duration>" +
           std::to_string(length) + "</duration><staff>" + std::to_string(staff) +
           "</staff></note>";
}

std::string restXml(int length, int staff) {
    return "<note><rest/><duration>" + std::to_string(length) + "</duration><staff>" +
           std::to_string(staff) + "</staff></note>";
}

// A score of measures of `ticksPerMeasure` ticks; measure m starts with tempo[m] when it is > 0.
std::string scoreXml(int divisions, int ticksPerMeasure, const std::vector<double>& tempo,
                     const std::vector<std::vector<StaffNote>>& right,
                     const std::vector<std::vector<StaffNote>>& left) {
    std::string xml =
        "<?xml version=\"1.0\"?><score-partwise version=\"3.1\"><part-list><score-part "
        "id=\"P1\"><part-name>Piano</part-name><score-instrument id=\"P1-I1\"><instrument-name>"
        "Piano</instrument-name></score-instrument></score-part></part-list><part id=\"P1\">";
    for (size_t m = 0; m < right.size(); ++m) {
        xml += "<measure number=\"" + std::to_string(m + 1) + "\">";
        if (m == 0) {
            xml += "<attributes><divisions>" + std::to_string(divisions) +
                   "</divisions><staves>2</staves><clef number=\"1\"><sign>G</sign></clef><clef "
                   "number=\"2\"><sign>F</sign></clef></attributes>";
        }
        if (tempo[m] > 0) {
            xml += "<direction><direction-type><words/></direction-type><sound tempo=\"" +
                   std::to_string(tempo[m]) + "\"/></direction>";
        }
        for (const StaffNote& note : right[m]) {
            xml += noteXml(note.key, note.length, 1);
            if (note.rest > 0) {
                xml += restXml(note.rest, 1);
            }
        }
        xml += "<backup><duration>" + std::to_string(ticksPerMeasure) + "</duration></backup>";
        for (const StaffNote& note : left[m]) {
            xml += noteXml(note.key, note.length, 2);
            if (note.rest > 0) {
                xml += restXml(note.rest, 2);
            }
        }
        xml += "</measure>";
    }
    return xml + "</part></score-partwise>";
}

// Loads and plans a document as the program does, and builds its timeline.
Timeline plannedTimeline(const std::string& xml, double leadIn, ScoreTiming* timing) {
    setStartValues();
    EXPECT_EQ(loadScoreFromBuffer(xml.data(), xml.size(), nullptr), 0);
    createKeyStates();
    planRightHand();
    planLeftHand();
    std::string error;
    EXPECT_TRUE(readScoreTiming(xml.data(), xml.size(), timing, &error)) << error;
    TimelineOptions options;
    options.leadIn = leadIn;
    options.leadOut = 0.5;
    return buildTimeline(*timing, options);
}

struct Wav {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::vector<float> samples;  // interleaved, -1..1
};

uint32_t little(const std::string& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// Reads a PCM WAV file chunk by chunk, as any player would.
bool readWav(const std::string& path, Wav* wav) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0 ||
        little(bytes, 4, 4) + 8 != bytes.size()) {
        return false;
    }
    for (size_t at = 12; at + 8 <= bytes.size();) {
        std::string id = bytes.substr(at, 4);
        size_t size = little(bytes, at + 4, 4);
        if (at + 8 + size > bytes.size()) {
            return false;
        }
        if (id == "fmt ") {
            if (little(bytes, at + 8, 2) != 1) {
                return false;
            }
            wav->channels = static_cast<int>(little(bytes, at + 10, 2));
            wav->rate = static_cast<int>(little(bytes, at + 12, 4));
            wav->bits = static_cast<int>(little(bytes, at + 22, 2));
        } else if (id == "data" && wav->bits == 16) {
            for (size_t i = 0; i + 1 < size; i += 2) {
                auto value = static_cast<int16_t>(little(bytes, at + 8 + i, 2));
                wav->samples.push_back(value / 32767.0f);
            }
        }
        at += 8 + size + (size & 1);
    }
    return wav->channels == 2 && !wav->samples.empty();
}

// Times where the sound's energy jumps: the mean square over 4 ms windows, every 1 ms, more than
// four times what it was 8 to 16 ms earlier; one onset per 60 ms at most.
std::vector<double> energyOnsets(const std::vector<float>& stereo, int rate) {
    const size_t hop = rate / 1000;
    const size_t window = 4 * hop;
    std::vector<double> energy;
    for (size_t start = 0; (start + window) * 2 <= stereo.size(); start += hop) {
        double sum = 0.0;
        for (size_t i = start; i < start + window; ++i) {
            double mono = 0.5 * (stereo[2 * i] + stereo[2 * i + 1]);
            sum += mono * mono;
        }
        energy.push_back(sum / window);
    }
    std::vector<double> onsets;
    for (size_t k = 16; k < energy.size(); ++k) {
        double before = 0.0;
        for (size_t j = k - 16; j < k - 8; ++j) {
            before += energy[j] / 8.0;
        }
        bool rise = energy[k] > 4.0 * before && energy[k] > 1e-6;
        double at = static_cast<double>(k * hop) / rate;
        if (rise && (onsets.empty() || at - onsets.back() > 0.06)) {
            onsets.push_back(at);
        }
    }
    return onsets;
}

// Strength of frequency `hz` in the mono sum of samples [first, first + count).
double strength(const std::vector<float>& stereo, int rate, size_t first, size_t count, double hz) {
    double re = 0.0, im = 0.0;
    for (size_t i = first; i < first + count; ++i) {
        double mono = stereo[2 * i] + stereo[2 * i + 1];
        double phase = 2.0 * M_PI * hz * static_cast<double>(i) / rate;
        re += mono * std::cos(phase);
        im += mono * std::sin(phase);
    }
    return re * re + im * im;
}

// The strongest frequency between `low` and `high` Hz in [from, from + length) seconds: a scan
// in 1 Hz steps, then in 0.01 Hz steps around the best one.
double strongestFrequency(const std::vector<float>& stereo, int rate, double from, double length,
                          double low, double high) {
    size_t first = static_cast<size_t>(from * rate);
    size_t count = static_cast<size_t>(length * rate);
    double best = low, bestStrength = -1.0;
    for (double hz = low; hz <= high; hz += 1.0) {
        double s = strength(stereo, rate, first, count, hz);
        if (s > bestStrength) {
            bestStrength = s;
            best = hz;
        }
    }
    double coarse = best;
    for (double hz = coarse - 1.0; hz <= coarse + 1.0; hz += 0.01) {
        double s = strength(stereo, rate, first, count, hz);
        if (s > bestStrength) {
            bestStrength = s;
            best = hz;
        }
    }
    return best;
}

std::string tempPath(const std::string& name) {
    return testing::TempDir() + name;
}

}  // namespace

// Two measures at 100 and then 150 quarter notes a minute: staccato eighths in the right hand on
// every beat, a bass note on every first beat. The WAV file holds an attack at every onset the
// tempo map gives, within one frame at 60 frames a second, and nowhere else.
TEST(SoundCheck, RenderedScoreAttacksAtTheTempoMapsTimes) {
    const int divisions = 4;
    std::vector<std::vector<StaffNote>> right = {{{51, 2, 2}, {53, 2, 2}, {55, 2, 2}, {56, 2, 2}},
                                                 {{58, 2, 2}, {56, 2, 2}, {55, 2, 2}, {51, 2, 2}},
                                                 {{46, 2, 2}, {48, 2, 2}, {50, 2, 2}, {51, 2, 2}}};
    std::vector<std::vector<StaffNote>> left = {{{27, 2, 14}}, {{22, 2, 14}}, {{27, 2, 14}}};
    std::string xml = scoreXml(divisions, 16, {100, 150, 0}, right, left);
    ScoreTiming timing;
    const double leadIn = 0.25;
    Timeline timeline = plannedTimeline(xml, leadIn, &timing);
    ASSERT_EQ(timeline.notes.size(), 15u);

    std::vector<float> stereo;
    std::string error;
    ASSERT_TRUE(renderTimelineAudio(timeline, defaultSoundfontPath(), kRate, &stereo, &error))
        << error;
    EXPECT_EQ(stereo.size(), 2 * static_cast<size_t>(std::ceil(timeline.duration * kRate)));
    std::string path = tempPath("sound_check.wav");
    ASSERT_TRUE(writeWav(path, stereo, kRate, &error)) << error;
    Wav wav;
    ASSERT_TRUE(readWav(path, &wav));
    EXPECT_EQ(wav.rate, kRate);
    ASSERT_EQ(wav.samples.size(), stereo.size());
    for (size_t i = 0; i < stereo.size(); i += 997) {
        ASSERT_NEAR(wav.samples[i], std::clamp(stereo[i], -1.0f, 1.0f), 1.0 / 32767 + 1e-6);
    }

    // The tempo map, worked out here from the score's own numbers: a quarter lasts 0.6 s in the
    // first measure and 0.4 s from the second on.
    std::vector<double> expected;
    for (int tick = 0; tick < 48; tick += divisions) {
        double beats = tick / static_cast<double>(divisions);
        expected.push_back(leadIn + (tick < 16 ? beats * 0.6 : 2.4 + (beats - 4) * 0.4));
    }
    std::vector<double> found = energyOnsets(wav.samples, wav.rate);
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(found[i], expected[i], 0.017) << "onset " << i;
    }
    std::remove(path.c_str());
}

// A4, C4 and A5 alone: the strongest partial of each is its equal-tempered fundamental
// (A4 = 440 Hz), within 5 cents.
TEST(SoundCheck, NotesSoundAtTheirPitch) {
    for (int key : {48, 39, 60}) {
        std::vector<float> stereo;
        std::string error;
        ASSERT_TRUE(renderNotesAudio({{key, 0.1, 1.0}}, 1.1, defaultSoundfontPath(), kRate, &stereo,
                                     &error))
            << error;
        // Searched over more than a fifth either way, so a wrong key or octave cannot pass.
        double wanted = 440.0 * std::pow(2.0, (key - 48) / 12.0);
        double measured = strongestFrequency(stereo, kRate, 0.15, 0.8, 0.7 * wanted, 1.4 * wanted);
        double cents = 1200.0 * std::log2(measured / wanted);
        EXPECT_LT(std::fabs(cents), 5.0) << "key " << key << ": " << measured << " Hz";
    }
}

// Nothing sounds before the first onset and nothing is lost: a render of no notes is silence,
// and one note's sound starts at its onset.
TEST(SoundCheck, SilenceUntilTheOnset) {
    std::vector<float> stereo;
    std::string error;
    ASSERT_TRUE(renderNotesAudio({}, 0.5, defaultSoundfontPath(), kRate, &stereo, &error));
    ASSERT_EQ(stereo.size(), 2u * 22050);
    for (float sample : stereo) {
        ASSERT_LT(std::fabs(sample), 1e-6f);  // the effects' filters leave only rounding noise
    }
    ASSERT_TRUE(renderNotesAudio({{40, 0.3, 0.45}, {87, 0.6, 0.7}, {88, 0.1, 0.2}, {-1, 0, 1}}, 0.5,
                                 defaultSoundfontPath(), kRate, &stereo, &error));
    size_t firstSound = 0;
    while (firstSound < stereo.size() && std::fabs(stereo[firstSound]) < 1e-4f) {
        ++firstSound;
    }
    EXPECT_NEAR(firstSound / 2.0 / kRate, 0.3, 0.002);  // keys 88 and -1 are not played
}

// Bad input: one line naming the fault, nothing rendered or left on disk.
TEST(SoundCheck, BadInputIsRefusedInOneLine) {
    std::vector<float> stereo{1.0f, 1.0f};
    std::string error;
    auto oneLine = [&](const std::string& mention) {
        EXPECT_NE(error.find(mention), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_TRUE(stereo.empty());
        error.clear();
        stereo = {1.0f, 1.0f};
    };
    EXPECT_FALSE(renderNotesAudio({}, 1.0, "/nonexistent/piano.sf2", kRate, &stereo, &error));
    oneLine("/nonexistent/piano.sf2");
    std::string notSoundfont = std::string(QUORVEL_SOURCE_DIR) + "/README.md";
    EXPECT_FALSE(renderNotesAudio({}, 1.0, notSoundfont, kRate, &stereo, &error));
    oneLine("not a SoundFont");
    EXPECT_FALSE(renderNotesAudio({}, 1.0, "", kRate, &stereo, &error));
    oneLine("no SoundFont");
    EXPECT_FALSE(renderNotesAudio({}, 1.0, defaultSoundfontPath(), 0, &stereo, &error));
    oneLine("sample rate");
    EXPECT_FALSE(renderNotesAudio({}, NAN, defaultSoundfontPath(), kRate, &stereo, &error));
    oneLine("seconds");
    EXPECT_FALSE(renderNotesAudio({}, 1e9, defaultSoundfontPath(), kRate, &stereo, &error));
    oneLine("seconds");

    EXPECT_FALSE(writeWav("/nonexistent/folder/out.wav", {0.0f, 0.0f}, kRate, &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(writeWav(tempPath("odd.wav"), {0.0f}, kRate, &error));
    EXPECT_NE(error.find("pairs"), std::string::npos) << error;
    EXPECT_FALSE(std::ifstream(tempPath("odd.wav")).good());
}

// Every fallible synthesiser and file call fails in turn: each failure is one line, leaves no
// samples and no file, and once no call fails the result is the same as without the hook.
TEST(SoundCheck, EveryFailingCallIsReportedCleanly) {
    const std::string soundfont = defaultSoundfontPath();
    ASSERT_FALSE(soundfont.empty()) << "no General MIDI SoundFont is installed";
    const std::vector<SoundNote> notes = {{39, 0.0, 0.2}, {43, 0.1, 0.3}, {46, 0.1, 0.3}};
    std::vector<float> reference;
    std::string error;
    ASSERT_TRUE(renderNotesAudio(notes, 0.5, soundfont, kRate, &reference, &error)) << error;
    long failures = 0;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        audioCallsMade = 0;
        audioFailCallNumber = n;
        std::vector<float> stereo;
        error.clear();
        bool ok = renderNotesAudio(notes, 0.5, soundfont, kRate, &stereo, &error);
        audioFailCallNumber = 0;
        if (ok) {
            EXPECT_LT(audioCallsMade, n);
            EXPECT_EQ(stereo, reference);
            break;
        }
        ++failures;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_TRUE(stereo.empty());
    }
    EXPECT_GE(failures, 10);  // settings, synthesiser, SoundFont, piano, notes, rendering

    const std::string path = tempPath("failing.wav");
    failures = 0;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 100);
        audioCallsMade = 0;
        audioFailCallNumber = n;
        error.clear();
        bool ok = writeWav(path, reference, kRate, &error);
        audioFailCallNumber = 0;
        if (ok) {
            break;
        }
        ++failures;
        EXPECT_NE(error.find(path), std::string::npos);
        EXPECT_FALSE(std::ifstream(path).good()) << "left behind after call " << n;
    }
    EXPECT_GE(failures, 4);  // open, header, samples, close
    Wav wav;
    EXPECT_TRUE(readWav(path, &wav));
    EXPECT_EQ(wav.samples.size(), reference.size());
    std::remove(path.c_str());
}
