#include "audio/synth.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "audio/synth_setup.h"
#include "timeline/timeline.h"

FaultCounter audioFaults;
long& audioCallsMade = audioFaults.made;
long& audioFailCallNumber = audioFaults.failAt;

namespace {

bool lastCallInjected = false;

std::mutex logMutex;
std::string lastSynthMessage;

void keepSynthMessage(int level, const char* message, void*) {
    if (level > FLUID_WARN || message == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(logMutex);
    lastSynthMessage = message;
    while (!lastSynthMessage.empty() &&
           (lastSynthMessage.back() == '\n' || lastSynthMessage.back() == '\r')) {
        lastSynthMessage.pop_back();
    }
}

// Long enough for any piece; beyond it the samples alone would need gigabytes.
constexpr double kMaxRenderSeconds = 3.0 * 3600.0;

constexpr const char* kSoundfontFolder = "/usr/share/sounds/sf2/";
constexpr const char* kSoundfontNames[] = {"FluidR3_GM.sf2", "default-GM.sf2", "TimGM6mb.sf2"};

// What a rendered event does, in the order it takes among events of one frame: note-offs, the
// pedal lifted, the pedal pressed (a note struck with it is held), then note-ons and clicks.
enum EventOrder { kNoteOff = 0, kPedalUp = 1, kPedalDown = 2, kNoteOn = 3, kClick = 4 };

struct NoteEvent {
    int64_t frame;
    int on;  // EventOrder
    int midiKey;
    int value = 0;  // velocity of a note-on or click, depth of the pedal
};

// A click is let go after this long; the wood blocks have died away by then.
constexpr double kClickSeconds = 0.1;

// A SoundFont 2 file is a RIFF file of form "sfbk". Anything else is turned away before the
// synthesiser sees it: its fallback loaders print to standard error on their own.
bool looksLikeSoundfont(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    char head[12] = {};
    size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return got == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "sfbk", 4) == 0;
}

bool fileReadable(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

std::vector<NoteEvent> eventsOf(const std::vector<SoundNote>& notes,
                                const std::vector<SoundControl>& controls, int sampleRate,
                                int64_t totalFrames) {
    std::vector<NoteEvent> events;
    events.reserve(notes.size() * 2);
    auto frameOf = [&](double seconds) {
        double frame = std::round(seconds * sampleRate);
        return static_cast<int64_t>(std::clamp(frame, 0.0, static_cast<double>(totalFrames)));
    };
    for (const SoundNote& note : notes) {
        if (note.key < 0 || note.key > 87 || !std::isfinite(note.onset) ||
            !std::isfinite(note.release)) {
            continue;
        }
        int64_t on = frameOf(note.onset);
        if (on >= totalFrames) {
            continue;  // starts after the end: nothing of it would be heard
        }
        int64_t off = std::max(on, frameOf(note.release));
        int midiKey = note.key + kMidiKeyOfKeyZero;
        events.push_back({on, kNoteOn, midiKey, std::clamp(note.velocity, 1, 127)});
        events.push_back({off, kNoteOff, midiKey, 0});
    }
    for (const SoundControl& control : controls) {
        if (!std::isfinite(control.seconds)) {
            continue;
        }
        const int64_t at = frameOf(control.seconds);
        if (at >= totalFrames) {
            continue;
        }
        const int value = std::clamp(control.value, 0, 127);
        if (control.click) {
            const int note = std::clamp(control.drumNote, 0, 127);
            events.push_back({at, kClick, note, std::max(1, value)});
            // Its note-off: the note number past 127 tells it from the piano's.
            events.push_back({frameOf(control.seconds + kClickSeconds), kNoteOff, 128 + note, 0});
        } else {
            events.push_back({at, value > 0 ? kPedalDown : kPedalUp, -1, value});
        }
    }
    std::sort(events.begin(), events.end(), [](const NoteEvent& a, const NoteEvent& b) {
        if (a.frame != b.frame) {
            return a.frame < b.frame;
        }
        if (a.on != b.on) {
            return a.on < b.on;
        }
        return a.midiKey < b.midiKey;
    });
    return events;
}

bool writeFrames(fluid_synth_t* synth, std::vector<float>* stereo, int64_t from, int64_t to) {
    if (to <= from) {
        return true;
    }
    float* start = stereo->data() + from * 2;
    return audioCall(fluid_synth_write_float(synth, static_cast<int>(to - from), start, 0, 2, start,
                                             1, 2) == FLUID_OK);
}

void putLittle(unsigned char* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

}  // namespace

bool audioCall(bool ok) {
    lastCallInjected = audioFaults.fails();
    return ok && !lastCallInjected;
}

std::string audioFailureText() {
    if (lastCallInjected) {
        return "injected failure";
    }
    return errno != 0 ? std::strerror(errno) : "unknown error";
}

void quietSynthLog() {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
        fluid_set_log_function(level, keepSynthMessage, nullptr);
    }
}

std::string takeSynthMessage() {
    std::lock_guard<std::mutex> lock(logMutex);
    std::string message;
    message.swap(lastSynthMessage);
    return message;
}

bool createPianoSynth(const std::string& soundfont, int sampleRate, SynthSetup* setup,
                      std::string* error) {
    quietSynthLog();
    takeSynthMessage();
    *setup = SynthSetup();
    if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate) {
        *error = "sample rate " + std::to_string(sampleRate) + " Hz is outside " +
                 std::to_string(kMinSampleRate) + ".." + std::to_string(kMaxSampleRate);
        return false;
    }
    if (soundfont.empty()) {
        *error = "no SoundFont found (install fluid-soundfont-gm or give --soundfont PATH)";
        return false;
    }
    if (!fileReadable(soundfont)) {
        *error = "cannot read the SoundFont " + soundfont + " (" + std::strerror(errno) + ")";
        return false;
    }
    if (!looksLikeSoundfont(soundfont)) {
        *error = soundfont + " is not a SoundFont 2 (.sf2) file";
        return false;
    }
    auto fail = [&](const std::string& what) {
        std::string detail =
            lastCallInjected ? std::string("injected failure") : takeSynthMessage();
        *error = detail.empty() ? what : what + ": " + detail;
        destroyPianoSynth(setup);
        return false;
    };
    setup->settings = new_fluid_settings();
    if (!audioCall(setup->settings != nullptr)) {
        return fail("cannot create the synthesiser's settings");
    }
    // Samples are loaded only for the presets in use: the piano of a 140 MB SoundFont loads in
    // a fraction of the time of the whole bank.
    if (!audioCall(fluid_settings_setnum(setup->settings, "synth.sample-rate", sampleRate) ==
                   FLUID_OK) ||
        !audioCall(fluid_settings_setint(setup->settings, "synth.dynamic-sample-loading", 1) ==
                   FLUID_OK) ||
        !audioCall(fluid_settings_setint(setup->settings, "synth.chorus.active", 0) == FLUID_OK) ||
        !audioCall(fluid_settings_setnum(setup->settings, "synth.gain", kSynthGain) == FLUID_OK)) {
        return fail("cannot set up the synthesiser");
    }
    setup->synth = new_fluid_synth(setup->settings);
    if (!audioCall(setup->synth != nullptr)) {
        return fail("cannot create the synthesiser");
    }
    int soundfontId = fluid_synth_sfload(setup->synth, soundfont.c_str(), 1);
    if (!audioCall(soundfontId != FLUID_FAILED)) {
        return fail("cannot load the SoundFont " + soundfont);
    }
    // Bank 0, program 0: the General MIDI acoustic grand piano.
    if (!audioCall(fluid_synth_program_select(setup->synth, kPianoChannel, soundfontId, 0, 0) ==
                   FLUID_OK)) {
        return fail("the SoundFont " + soundfont + " has no piano (bank 0, program 0)");
    }
    return true;
}

void selectClickKit(SynthSetup* setup) {
    // Bank 128 is the General MIDI drum kits; a SoundFont without one leaves the clicks silent.
    if (setup->synth != nullptr) {
        fluid_synth_bank_select(setup->synth, kClickChannel, 128);
        fluid_synth_program_change(setup->synth, kClickChannel, 0);
    }
}

void destroyPianoSynth(SynthSetup* setup) {
    if (setup->synth != nullptr) {
        delete_fluid_synth(setup->synth);
    }
    if (setup->settings != nullptr) {
        delete_fluid_settings(setup->settings);
    }
    *setup = SynthSetup();
}

std::string defaultSoundfontPath() {
    for (const char* name : kSoundfontNames) {
        std::string path = std::string(kSoundfontFolder) + name;
        if (fileReadable(path)) {
            return path;
        }
    }
    return "";
}

bool renderNotesAudio(const std::vector<SoundNote>& notes, double duration,
                      const std::string& soundfont, int sampleRate, std::vector<float>* stereo,
                      std::string* error) {
    return renderPerformanceAudio(notes, {}, duration, soundfont, sampleRate, stereo, error);
}

bool renderPerformanceAudio(const std::vector<SoundNote>& notes,
                            const std::vector<SoundControl>& controls, double duration,
                            const std::string& soundfont, int sampleRate,
                            std::vector<float>* stereo, std::string* error) {
    stereo->clear();
    if (!std::isfinite(duration) || duration < 0.0 || duration > kMaxRenderSeconds) {
        *error = "cannot render " + std::to_string(duration) + " seconds of sound (at most " +
                 std::to_string(static_cast<int>(kMaxRenderSeconds)) + ")";
        return false;
    }
    SynthSetup setup;
    if (!createPianoSynth(soundfont, sampleRate, &setup, error)) {
        return false;
    }
    int64_t totalFrames = static_cast<int64_t>(std::ceil(duration * sampleRate));
    try {
        stereo->assign(static_cast<size_t>(totalFrames) * 2, 0.0f);
    } catch (const std::bad_alloc&) {
        destroyPianoSynth(&setup);
        *error = "not enough memory for " + std::to_string(duration) + " seconds of sound";
        return false;
    }
    int64_t done = 0;
    bool ok = true;
    const std::vector<NoteEvent> events = eventsOf(notes, controls, sampleRate, totalFrames);
    if (std::any_of(events.begin(), events.end(),
                    [](const NoteEvent& e) { return e.on == kClick; })) {
        selectClickKit(&setup);
    }
    for (const NoteEvent& event : events) {
        ok = writeFrames(setup.synth, stereo, done, event.frame);
        if (!ok) {
            break;
        }
        done = event.frame;
        if (event.on == kNoteOn) {
            ok = audioCall(fluid_synth_noteon(setup.synth, kPianoChannel, event.midiKey,
                                              event.value) == FLUID_OK);
        } else if (event.on == kPedalUp || event.on == kPedalDown) {
            fluid_synth_cc(setup.synth, kPianoChannel, kSustainController, event.value);
        } else if (event.on == kClick) {
            fluid_synth_noteon(setup.synth, kClickChannel, event.midiKey, event.value);
        } else if (event.midiKey >= 128) {
            fluid_synth_noteoff(setup.synth, kClickChannel, event.midiKey - 128);
        } else {
            // FLUID_FAILED here only means the voice has already died away on its own.
            fluid_synth_noteoff(setup.synth, kPianoChannel, event.midiKey);
        }
        if (!ok) {
            break;
        }
    }
    ok = ok && writeFrames(setup.synth, stereo, done, totalFrames);
    if (!ok) {
        std::string detail =
            lastCallInjected ? std::string("injected failure") : takeSynthMessage();
        *error = "the synthesiser failed while rendering" + (detail.empty() ? "" : ": " + detail);
        stereo->clear();
    }
    destroyPianoSynth(&setup);
    return ok;
}

bool writeWav(const std::string& path, const std::vector<float>& stereo, int sampleRate,
              std::string* error) {
    if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate) {
        *error = "sample rate " + std::to_string(sampleRate) + " Hz is outside " +
                 std::to_string(kMinSampleRate) + ".." + std::to_string(kMaxSampleRate);
        return false;
    }
    if (stereo.size() % 2 != 0) {
        *error = "stereo samples come in pairs; got an odd count";
        return false;
    }
    // A WAV file counts its bytes in 32 bits.
    const uint64_t dataBytes = static_cast<uint64_t>(stereo.size()) * 2;
    if (dataBytes > 0xFFFFFFFFull - 36) {
        *error = "too much sound for one WAV file";
        return false;
    }
    errno = 0;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!audioCall(file != nullptr)) {
        *error = "cannot write " + path + ": " + audioFailureText();
        if (file != nullptr) {
            std::fclose(file);
            std::remove(path.c_str());
        }
        return false;
    }
    unsigned char header[44];
    std::memcpy(header, "RIFF", 4);
    putLittle(header + 4, static_cast<uint32_t>(36 + dataBytes), 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLittle(header + 16, 16, 4);                                     // format chunk size
    putLittle(header + 20, 1, 2);                                      // PCM
    putLittle(header + 22, 2, 2);                                      // channels
    putLittle(header + 24, static_cast<uint32_t>(sampleRate), 4);      // frames a second
    putLittle(header + 28, static_cast<uint32_t>(sampleRate) * 4, 4);  // bytes a second
    putLittle(header + 32, 4, 2);                                      // bytes a frame
    putLittle(header + 34, 16, 2);                                     // bits a sample
    std::memcpy(header + 36, "data", 4);
    putLittle(header + 40, static_cast<uint32_t>(dataBytes), 4);
    bool ok = audioCall(std::fwrite(header, 1, sizeof header, file) == sizeof header);
    std::vector<unsigned char> block;
    constexpr size_t kBlockSamples = 1 << 15;
    for (size_t start = 0; ok && start < stereo.size(); start += kBlockSamples) {
        size_t count = std::min(kBlockSamples, stereo.size() - start);
        block.resize(count * 2);
        for (size_t i = 0; i < count; ++i) {
            float sample = stereo[start + i];
            if (!(sample == sample)) {
                sample = 0.0f;  // NaN
            }
            sample = std::clamp(sample, -1.0f, 1.0f);
            auto value = static_cast<int16_t>(std::lrint(sample * 32767.0f));
            putLittle(block.data() + 2 * i, static_cast<uint16_t>(value), 2);
        }
        ok = audioCall(std::fwrite(block.data(), 1, block.size(), file) == block.size());
    }
    if (!ok) {
        *error = "cannot write " + path + ": " + audioFailureText();
        std::fclose(file);
        std::remove(path.c_str());
        return false;
    }
    if (!audioCall(std::fclose(file) == 0)) {
        *error = "cannot write " + path + ": " + audioFailureText();
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool renderTimelineAudio(const Timeline& timeline, const std::string& soundfont, int sampleRate,
                         std::vector<float>* stereo, std::string* error) {
    std::vector<SoundNote> notes;
    std::vector<SoundControl> controls;
    notes.reserve(timeline.notes.size());
    for (const TimedNote& note : timeline.notes) {
        if (!note.silent) {
            notes.push_back({note.key, note.onset, note.release, note.velocity});
        }
    }
    for (const PerformanceEvent& event : timeline.events) {
        if (event.kind == EventKind::Pedal) {
            controls.push_back({event.seconds, false, event.velocity, 0});
        } else if (event.kind == EventKind::Click) {
            controls.push_back({event.seconds, true, event.velocity, event.key});
        }
    }
    return renderPerformanceAudio(notes, controls, timeline.duration, soundfont, sampleRate, stereo,
                                  error);
}
