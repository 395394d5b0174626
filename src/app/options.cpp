#include "app/options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "look/look_frame.h"
#include "midi/midi_file.h"
#include "timeline/timeline.h"

namespace {
// Every long option the program knows. Only these switch the command line away from the classic
// handling, so an old invocation with stray extra words keeps working as before.
constexpr const char* kLongOptions[] = {
    "help",        "version",    "prepare", "part",   "fingering", "realtime", "play",
    "mute",        "soundfont",  "speed",   "from",   "to",        "export",   "still",
    "at",          "size",       "fps",     "camera", "colors",    "skin",     "split",
    "export-midi", "no-repeats", "hand",    "loop",   "metronome"};

constexpr const char* kProgram = "quorvel";
constexpr const char* kVersion = "quorvel 1.1";

// Limits of the numeric options; the speed goes as far as the clock does (kMinClockRate to
// kMaxClockRate).
constexpr int kSmallestSide = 16;   // pixels; below this nothing of the keyboard can be seen
constexpr int kLargestSide = 7680;  // pixels; 8K, the largest frame encoders commonly take
constexpr int kLowestFps = 1;
constexpr int kHighestFps = 240;

const char* kDescription =
    "Quorvel plays a piano score on two jointed hands over an 88-key keyboard.\n"
    "\n"
    "  quorvel [SCORE]           the classic window: the score (default\n"
    "                            ../debug/OrlundePianoSonata.xml) played tick by tick\n"
    "  quorvel --play SCORE      prepare any MusicXML or .mxl score and play it at\n"
    "                            its tempo, with sound, from the player's seat";

const char* kFooter =
    "Positions for --at: a number of quarter notes from the start (for example 12 or\n"
    "7.5), or m followed by a measure number (for example m5) for that measure's start;\n"
    "m5:2 is its start on the second pass, where repeats play it twice (--from and --to\n"
    "take the same forms, the first pass without :N).\n"
    "Companion programs: quorvel-prepare INPUT OUTPUT (write the prepared score) and\n"
    "quorvel-fingering INPUT OUTPUT (write the fingering into a copy of the score).";

bool readSize(const std::string& text, int* width, int* height) {
    int w = 0;
    int h = 0;
    char x = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X')) {
        return false;
    }
    if (w < kSmallestSide || h < kSmallestSide || w > kLargestSide || h > kLargestSide) {
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

void usageError(const std::string& message) {
    std::cerr << kProgram << ": " << message << " (see " << kProgram << " --help)" << std::endl;
}

// "--" and a letter: a long option, known or mistyped. A lone "--" ends the options and is
// not one.
bool looksLikeLongOption(const char* arg) {
    return arg != nullptr && arg[0] == '-' && arg[1] == '-' &&
           std::isalpha(static_cast<unsigned char>(arg[2]));
}

bool isKnownLongOption(const char* arg) {
    const char* name = arg + 2;
    const size_t length = std::strcspn(name, "=");
    for (const char* known : kLongOptions) {
        if (std::strlen(known) == length && std::strncmp(name, known, length) == 0) {
            return true;
        }
    }
    return false;
}
}  // namespace

bool hasLongOption(int argc, char** argv) {
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (looksLikeLongOption(argv[i]) && isKnownLongOption(argv[i])) {
            return true;
        }
    }
    return false;
}

bool refuseUnknownFirstOption(int argc, char** argv) {
    if (argc < 2 || argv == nullptr || !looksLikeLongOption(argv[1]) ||
        isKnownLongOption(argv[1])) {
        return false;
    }
    const std::string name(argv[1], std::strcspn(argv[1], "="));
    std::cerr << kProgram << ": unknown option " << name << "; see --help" << std::endl;
    return true;
}

ParseOutcome parseProgramOptions(int argc, char** argv, ProgramOptions* options) {
    // A mistyped option must not be taken for a score's name (or a value): it is refused by
    // name before anything else is read.
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] != nullptr && std::strcmp(argv[i], "--") == 0) {
            break;
        }
        if (looksLikeLongOption(argv[i]) && !isKnownLongOption(argv[i])) {
            const std::string name(argv[i], std::strcspn(argv[i], "="));
            std::cerr << kProgram << ": unknown option " << name << "; see --help" << std::endl;
            return ParseOutcome::Exit1;
        }
    }
    ProgramOptions o;
    o.longOptions = true;
    CLI::App app(kDescription, kProgram);
    app.footer(kFooter);
    app.set_version_flag("--version", kVersion);
    app.get_formatter()->column_width(28);

    bool realtime = false;
    bool play = false;
    std::string fingering;
    std::string size;
    double speed = 1.0;
    int fps = o.fps;
    std::string exportPath;
    std::string stillPath;
    std::string midiPath;
    std::string split;

    app.add_option("SCORE", o.score,
                   "MusicXML (.xml, .musicxml), compressed (.mxl) score or MIDI file (.mid)");
    app.add_flag("--prepare", o.prepare,
                 "normalise the score first (notation-program exports, .mxl files)");
    app.add_option("--part", o.parts,
                   "piano part by id or 1-based position; twice: right hand part, left hand part")
        ->take_all()
        ->expected(1)
        ->allow_extra_args(false)
        ->type_name("ID");
    app.add_option("--fingering", fingering,
                   "simple or optimal (default: simple in the classic window, optimal otherwise)");
    app.add_flag("--realtime", realtime, "play in time with the score's tempo, with sound");
    app.add_flag("--play", play, "the same as --prepare --realtime, and start at once");
    app.add_flag("--mute", o.mute, "no sound");
    app.add_option("--soundfont", o.soundfont,
                   "SoundFont for the piano (default: the packaged one)");
    app.add_option("--speed", speed, "tempo factor, 0.25 to 4 (default 1)");
    bool noRepeats = false;
    app.add_flag("--no-repeats", noRepeats,
                 "play every measure once (prepared modes play repeats, endings, D.C. and D.S.)");
    app.add_option("--from", o.fromMeasure,
                   "first measure to play: its number as printed, m12:2 for its second pass");
    app.add_option("--to", o.toMeasure, "last measure to play (the same forms)");
    app.add_option("--export", exportPath, "write a video (H.264 and AAC in MP4) without a window");
    app.add_option("--still", stillPath, "write one picture (PNG) without a window");
    app.add_option("--at", o.at, "position of the --still picture (see below)");
    app.add_option("--size", size, "frame size of --export and --still, WxH (default 1280x720)");
    app.add_option("--fps", fps, "frames per second of --export (default 60)");
    app.add_option("--camera", o.camera, "player, above, side or follow (default player)");
    app.add_option("--colors", o.colors,
                   "right and left hand colours RRGGBB,RRGGBB (default 3899F5,FA941A)");
    app.add_option("--skin", o.skin, "the hands' skin tone RRGGBB (default CC9980)");
    app.add_option("--export-midi", midiPath, "write the performance as a MIDI file");
    app.add_option("--split", split,
                   "MIDI files: this key (C4, F#3 or 60) and above to the right hand");
    std::string hand;
    app.add_option("--hand", hand,
                   "right or left: practise one hand; the other's keys go down, silent");
    app.add_flag("--loop", o.loop, "play the --from/--to range again and again (the window)");
    app.add_flag("--metronome", o.metronome,
                 "a click on every beat, with a bar of count-in (the window and --export)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help() << std::flush;
        return ParseOutcome::Exit0;
    } catch (const CLI::CallForVersion&) {
        std::cout << kVersion << std::endl;
        return ParseOutcome::Exit0;
    } catch (const CLI::ParseError& error) {
        usageError(error.what());
        return ParseOutcome::Exit1;
    }

    if (o.parts.size() > 2) {
        usageError("--part may be given at most twice (right hand part, then left hand part)");
        return ParseOutcome::Exit1;
    }
    if (fingering.empty()) {
        o.fingering = FingeringChoice::Default;
    } else if (fingering == "simple") {
        o.fingering = FingeringChoice::Simple;
    } else if (fingering == "optimal") {
        o.fingering = FingeringChoice::Optimal;
    } else {
        usageError("--fingering must be simple or optimal, not '" + fingering + "'");
        return ParseOutcome::Exit1;
    }
    if (!(speed >= kMinClockRate && speed <= kMaxClockRate)) {
        usageError("--speed must be between 0.25 and 4");
        return ParseOutcome::Exit1;
    }
    o.speed = speed;
    if (!size.empty() && !readSize(size, &o.width, &o.height)) {
        usageError("--size must be WIDTHxHEIGHT, each from 16 to 7680 pixels, not '" + size + "'");
        return ParseOutcome::Exit1;
    }
    if (fps < kLowestFps || fps > kHighestFps) {
        usageError("--fps must be a whole number from 1 to 240");
        return ParseOutcome::Exit1;
    }
    o.fps = fps;
    if (o.camera != "player" && o.camera != "above" && o.camera != "side" && o.camera != "follow") {
        usageError("--camera must be player, above, side or follow, not '" + o.camera + "'");
        return ParseOutcome::Exit1;
    }
    LookPalette palette;
    std::string colorError;
    if ((!o.colors.empty() && !parsePalette(o.colors, &palette, &colorError)) ||
        (!o.skin.empty() && !parseSkin(o.skin, &palette, &colorError))) {
        usageError(colorError);
        return ParseOutcome::Exit1;
    }

    if (!split.empty()) {
        o.splitKey = parseKeyName(split);
        if (o.splitKey < 0) {
            usageError(
                "--split must be a key from A0 to C8 or a MIDI note number from 21 to 108, not '" +
                split + "'");
            return ParseOutcome::Exit1;
        }
    }
    if (hand == "right") {
        o.hand = 0;
    } else if (hand == "left") {
        o.hand = 1;
    } else if (!hand.empty()) {
        usageError("--hand must be right or left, not '" + hand + "'");
        return ParseOutcome::Exit1;
    }
    const int outputs = (exportPath.empty() ? 0 : 1) + (stillPath.empty() ? 0 : 1);
    if (!midiPath.empty() && (outputs > 0 || realtime || play)) {
        usageError("choose one of --realtime, --play, --export, --still and --export-midi");
        return ParseOutcome::Exit1;
    }
    if (outputs > 1 || (outputs == 1 && (realtime || play))) {
        usageError("choose one of --realtime, --play, --export and --still");
        return ParseOutcome::Exit1;
    }
    if (!midiPath.empty()) {
        o.mode = RunMode::MidiFile;
        o.outputPath = midiPath;
        if (o.mute || !o.soundfont.empty() || speed != 1.0 || !o.fromMeasure.empty() ||
            !o.toMeasure.empty() || !size.empty() || fps != kDefaultFps || o.camera != "player" ||
            o.hand >= 0 || o.loop || o.metronome) {
            usageError(
                "--export-midi writes the whole piece as it is played; it takes --prepare, "
                "--part, --split and --fingering");
            return ParseOutcome::Exit1;
        }
    } else if (!exportPath.empty()) {
        o.mode = RunMode::Export;
        o.outputPath = exportPath;
    } else if (!stillPath.empty()) {
        o.mode = RunMode::Still;
        o.outputPath = stillPath;
        if (o.at.empty()) {
            usageError("--still needs --at POSITION");
            return ParseOutcome::Exit1;
        }
    } else if (realtime || play) {
        o.mode = RunMode::Realtime;
    }
    o.repeats = !noRepeats;
    if (play) {
        o.prepare = true;
        o.startPlaying = true;
    }
    if (!o.at.empty() && o.mode != RunMode::Still) {
        usageError("--at goes with --still");
        return ParseOutcome::Exit1;
    }
    if (o.mode == RunMode::Classic && (!o.colors.empty() || !o.skin.empty())) {
        usageError("--colors and --skin go with --realtime, --play, --export or --still");
        return ParseOutcome::Exit1;
    }
    if (o.mode == RunMode::Classic && (o.mute || !o.soundfont.empty() || speed != 1.0 ||
                                       !o.fromMeasure.empty() || !o.toMeasure.empty())) {
        usageError(
            "--mute, --soundfont, --speed, --from and --to go with --realtime, --play or "
            "--export");
        return ParseOutcome::Exit1;
    }
    if (o.mode == RunMode::Classic && (o.hand >= 0 || o.loop || o.metronome)) {
        usageError("--hand, --loop and --metronome go with --realtime, --play or --export");
        return ParseOutcome::Exit1;
    }
    if (o.loop && o.mode != RunMode::Realtime) {
        // A video or a picture has one length; a player repeats a video as often as wanted.
        usageError("--loop goes with --realtime or --play (a video plays its range once)");
        return ParseOutcome::Exit1;
    }
    if ((o.mode == RunMode::Classic || o.mode == RunMode::Realtime) &&
        (!size.empty() || fps != kDefaultFps || o.camera != "player")) {
        usageError("--size, --fps and --camera go with --export or --still");
        return ParseOutcome::Exit1;
    }
    *options = o;
    return ParseOutcome::Run;
}
