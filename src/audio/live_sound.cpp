#include "audio/live_sound.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

#include "audio/loudness.h"
#include "audio/synth_setup.h"

namespace {

// The synthesiser's rate for live play; the offline renderer takes the caller's.
constexpr int kLiveSampleRate = 44100;

struct LivePlayer {
    SynthSetup setup;
    fluid_audio_driver_t* driver = nullptr;
    fluid_sequencer_t* sequencer = nullptr;
    fluid_seq_id_t synthClient = -1;  // keeps the sequencer in step with the synthesiser
    fluid_seq_id_t ourClient = -1;    // receives the notes and plays them
    std::string driverName;
    // The sequencer counts milliseconds of sound rendered. Rendering runs ahead of the wall
    // clock in bursts, one audio block at a time, so a reading taken between two blocks lags;
    // the largest (tick - wall) seen is the best estimate of where rendering stands.
    double tickMinusWallMs = 0.0;
    bool tickKnown = false;
    // Sound leaves the synthesiser this long before it is heard; events are sent that much early.
    double outputLatency = 0.0;
    bool clickKit = false;  // the drum kit selected for the metronome
};

LivePlayer player;
bool playerOpen = false;

std::mutex dispatchMutex;
bool recording = false;
std::vector<SoundDispatch> dispatches;

double steadySeconds() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Runs on the audio thread, inside the synthesiser's rendering, at the event's moment.
void playEvent(unsigned int, fluid_event_t* event, fluid_sequencer_t*, void*) {
    int type = fluid_event_get_type(event);
    int key = fluid_event_get_key(event);
    const int channel = fluid_event_get_channel(event);
    bool on = type == FLUID_SEQ_NOTEON;
    if (type == FLUID_SEQ_CONTROLCHANGE) {
        fluid_synth_cc(player.setup.synth, channel, fluid_event_get_control(event),
                       fluid_event_get_value(event));
        return;
    }
    if (on) {
        fluid_synth_noteon(player.setup.synth, channel, key, fluid_event_get_velocity(event));
    } else if (type == FLUID_SEQ_NOTEOFF) {
        fluid_synth_noteoff(player.setup.synth, channel, key);
    } else {
        return;
    }
    if (channel != kPianoChannel) {
        return;
    }
    std::lock_guard<std::mutex> lock(dispatchMutex);
    if (recording) {
        dispatches.push_back({key - kMidiKeyOfKeyZero, on, steadySeconds()});
    }
}

// The sound libraries behind some drivers print their own complaints straight to standard error
// when no device exists; the player says it once, in its own words.
struct QuietStandardError {
    int saved = -1;
    QuietStandardError() {
        std::fflush(stderr);
        saved = dup(2);
        int null = open("/dev/null", O_WRONLY);
        if (saved >= 0 && null >= 0) {
            dup2(null, 2);
        }
        if (null >= 0) {
            close(null);
        }
    }
    ~QuietStandardError() {
        if (saved >= 0) {
            std::fflush(stderr);
            dup2(saved, 2);
            close(saved);
        }
    }
};

void freePlayer() {
    if (player.driver != nullptr) {
        delete_fluid_audio_driver(player.driver);  // stops the audio thread first
    }
    if (player.sequencer != nullptr) {
        delete_fluid_sequencer(player.sequencer);  // unregisters both clients
    }
    destroyPianoSynth(&player.setup);
    player = LivePlayer();
}

bool openDriver(const LiveSoundOptions& options, std::string* tried) {
    fluid_settings_t* settings = player.setup.settings;
    for (const std::string& name : options.drivers) {
        *tried += (tried->empty() ? "" : ", ") + name;
        if (!audioCall(fluid_settings_setstr(settings, "audio.driver", name.c_str()) == FLUID_OK)) {
            continue;
        }
        if (name == "file" &&
            !audioCall(fluid_settings_setstr(settings, "audio.file.name",
                                             options.fileOutput.c_str()) == FLUID_OK)) {
            continue;
        }
        fluid_audio_driver_t* driver = nullptr;
        {
            QuietStandardError quiet;
            driver = new_fluid_audio_driver(settings, player.setup.synth);
        }
        if (!audioCall(driver != nullptr)) {
            if (driver != nullptr) {
                delete_fluid_audio_driver(driver);
            }
            continue;
        }
        player.driver = driver;
        player.driverName = name;
        if (name != "file") {
            int periodSize = 0;
            int periods = 0;
            fluid_settings_getint(settings, "audio.period-size", &periodSize);
            fluid_settings_getint(settings, "audio.periods", &periods);
            player.outputLatency = static_cast<double>(periodSize) * periods / kLiveSampleRate;
        }
        return true;
    }
    return false;
}

}  // namespace

bool openLiveSound(const LiveSoundOptions& options, std::string* error) {
    closeLiveSound();
    if (!createPianoSynth(options.soundfont, kLiveSampleRate, &player.setup, error)) {
        player = LivePlayer();
        return false;
    }
    // As loud as an exported video, less the headroom a player that cannot look ahead needs.
    fluid_synth_set_gain(player.setup.synth,
                         static_cast<float>(kSynthGain * std::pow(10.0, kLiveGainDecibels / 20.0)));
    auto fail = [&](const std::string& what) {
        std::string detail =
            audioFailureText() == "injected failure" ? "injected failure" : takeSynthMessage();
        *error = detail.empty() ? what : what + ": " + detail;
        freePlayer();
        return false;
    };
    // The sequencer keeps time by the samples the synthesiser renders and hands each event
    // over inside the block where it falls.
    player.sequencer = new_fluid_sequencer2(0);
    if (!audioCall(player.sequencer != nullptr)) {
        return fail("cannot create the sound sequencer");
    }
    player.synthClient = fluid_sequencer_register_fluidsynth(player.sequencer, player.setup.synth);
    if (!audioCall(player.synthClient != FLUID_FAILED)) {
        return fail("cannot attach the sequencer to the synthesiser");
    }
    player.ourClient =
        fluid_sequencer_register_client(player.sequencer, "quorvel", playEvent, nullptr);
    if (!audioCall(player.ourClient != FLUID_FAILED)) {
        return fail("cannot attach the player to the sequencer");
    }
    std::string tried;
    if (!openDriver(options, &tried)) {
        takeSynthMessage();
        *error = "no audio device (tried " + tried + ")";
        freePlayer();
        return false;
    }
    // Wait (briefly) for the first blocks, so the first reading already knows the driver's pace.
    double waitUntil = steadySeconds() + 0.25;
    while (fluid_sequencer_get_tick(player.sequencer) == 0 && steadySeconds() < waitUntil) {
        usleep(1000);
    }
    playerOpen = true;
    return true;
}

bool liveSoundOpen() {
    return playerOpen;
}

std::string liveSoundDriver() {
    return playerOpen ? player.driverName : "";
}

void closeLiveSound() {
    if (playerOpen || player.setup.synth != nullptr) {
        freePlayer();
    }
    playerOpen = false;
}

double liveSoundWallNow() {
    return steadySeconds();
}

namespace {
// Sends an event made by `fill` to the player at wall time `wall`.
template <typename Fill>
void sendAt(double wall, Fill fill) {
    unsigned int now = fluid_sequencer_get_tick(player.sequencer);
    double reading = static_cast<double>(now) - steadySeconds() * 1000.0;
    if (!player.tickKnown || reading > player.tickMinusWallMs) {
        player.tickMinusWallMs = reading;
        player.tickKnown = true;
    }
    double tick = std::round((wall - player.outputLatency) * 1000.0 + player.tickMinusWallMs);
    unsigned int at = tick <= now ? now : static_cast<unsigned int>(tick);
    fluid_event_t* event = new_fluid_event();
    if (event == nullptr) {
        return;
    }
    fluid_event_set_source(event, -1);
    fluid_event_set_dest(event, player.ourClient);
    fill(event);
    fluid_sequencer_send_at(player.sequencer, event, at, 1);
    delete_fluid_event(event);
}
}  // namespace

void liveSoundSchedule(int32_t key, bool on, double wall) {
    liveSoundScheduleNote(key, on, kNoteVelocity, wall);
}

void liveSoundScheduleNote(int32_t key, bool on, int velocity, double wall) {
    if (!playerOpen || key < 0 || key > 87 || !std::isfinite(wall)) {
        return;
    }
    const short note = static_cast<short>(key + kMidiKeyOfKeyZero);
    const short force = static_cast<short>(std::clamp(velocity, 1, 127));
    sendAt(wall, [&](fluid_event_t* event) {
        if (on) {
            fluid_event_noteon(event, kPianoChannel, note, force);
        } else {
            fluid_event_noteoff(event, kPianoChannel, note);
        }
    });
}

void liveSoundSchedulePedal(int value, double wall) {
    if (!playerOpen || !std::isfinite(wall)) {
        return;
    }
    const short depth = static_cast<short>(std::clamp(value, 0, 127));
    sendAt(wall, [&](fluid_event_t* event) {
        fluid_event_control_change(event, kPianoChannel, kSustainController, depth);
    });
}

void liveSoundScheduleClick(int drumNote, int velocity, double wall) {
    if (!playerOpen || drumNote < 0 || drumNote > 127 || !std::isfinite(wall)) {
        return;
    }
    if (!player.clickKit) {
        selectClickKit(&player.setup);
        player.clickKit = true;
    }
    const short note = static_cast<short>(drumNote);
    const short force = static_cast<short>(std::clamp(velocity, 1, 127));
    sendAt(wall,
           [&](fluid_event_t* event) { fluid_event_noteon(event, kClickChannel, note, force); });
    sendAt(wall + 0.1,
           [&](fluid_event_t* event) { fluid_event_noteoff(event, kClickChannel, note); });
}

void liveSoundSilence() {
    if (!playerOpen) {
        return;
    }
    fluid_sequencer_remove_events(player.sequencer, -1, player.ourClient, -1);
    fluid_synth_cc(player.setup.synth, kPianoChannel, kSustainController, 0);
    fluid_synth_all_notes_off(player.setup.synth, kPianoChannel);
}

void liveSoundRecordDispatches(bool record) {
    std::lock_guard<std::mutex> lock(dispatchMutex);
    recording = record;
}

std::vector<SoundDispatch> liveSoundTakeDispatches() {
    std::lock_guard<std::mutex> lock(dispatchMutex);
    std::vector<SoundDispatch> taken;
    taken.swap(dispatches);
    return taken;
}
