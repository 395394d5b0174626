#include "app/session.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "app/state.h"
#include "fingering/optimal_planner.h"
#include "fingering/optimal_printed.h"
#include "fingering/planner.h"
#include "midi/midi_file.h"
#include "prepare/container.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/piece_timing.h"

std::string sessionDocument;
PrepareResult sessionPrepared;
bool sessionFromMidi = false;
Piece sessionPiece;
ScoreTiming sessionTiming;

namespace {
// ---- Written once by startUpSession; read by every replanning. ----
// The fingerings printed in the score, which the optimal planner keeps.
std::vector<PrintedFinger> sessionPrinted;

// The printed fingerings of the loaded score: from the preparation when it ran, else read from
// the document the reader loaded (a score without any simply has none).
void collectPrintedFingers(bool prepared) {
    sessionPrinted.clear();
    if (prepared) {
        for (const PreparedNote& note : sessionPrepared.notes) {
            if (note.printedFinger >= 1 && note.printedFinger <= 5) {
                sessionPrinted.push_back({note.hand, note.tick, note.key, note.printedFinger - 1});
            }
        }
        return;
    }
    std::string error;
    if (!readPrintedFingers(sessionDocument, &sessionPrinted, &error)) {
        sessionPrinted.clear();
    }
}

// Where the measures of the loaded score start (ticks, rising), so that the planner fingers a
// measure played again as it fingered it before. Written once by startUpSession.
std::vector<int32_t> sessionMeasureStarts;

void collectMeasureStarts(bool midi) {
    sessionMeasureStarts.clear();
    ScoreTiming timing;
    std::string error;
    const ScoreTiming* read = &sessionTiming;
    if (!midi) {
        if (!readScoreTiming(sessionDocument.data(), sessionDocument.size(), &timing, &error)) {
            return;  // planned all the same, with repeats judged by their surroundings
        }
        read = &timing;
    }
    for (const MeasureStart& m : read->measures) {
        if (sessionMeasureStarts.empty() || m.tick > sessionMeasureStarts.back()) {
            sessionMeasureStarts.push_back(m.tick);
        }
    }
}

// Plans both hands with the optimal planner, keeping the printed fingerings.
void planOptimalWithPrintedFingers() {
    planHandsOptimal(sessionPrinted, sessionMeasureStarts);
}

// The one line on standard error that ends a mode whose score was refused: what failed, the
// file and the reason.
void sayRefused(const char* what, const char* path, const std::string& reason) {
    std::fprintf(stderr, "%s %s: %s\n", what, path, reason.c_str());
    std::fflush(stderr);
}

void planClassic() {
    planRightHand();
    planLeftHand();
}

// The prepared score, loaded by the reader from memory. -1 after a printed reason.
int loadPrepared(const ProgramOptions& options, const char* path, const char* shownPath) {
    PrepareOptions prepareOptions;
    prepareOptions.parts = options.parts;
    prepareOptions.repeats = options.repeats;
    // The performance plays ornaments out; the classic window keeps the notes as written.
    prepareOptions.ornaments = options.mode != RunMode::Classic;
    if (!prepareScore(path, prepareOptions, &sessionPrepared)) {
        std::printf("Loading MusicXML file...\n");
        std::fflush(stdout);
        if (shownPath != nullptr) {
            std::printf("File : %s\n", shownPath);
            std::fflush(stdout);
        }
        sayRefused("Could not prepare the score", path, sessionPrepared.error);
        return -1;
    }
    for (const std::string& change : sessionPrepared.changes) {
        std::fprintf(stderr, "%s\n", change.c_str());
        std::fflush(stderr);
    }
    sessionDocument = sessionPrepared.xml;
    return loadScoreFromBuffer(sessionDocument.data(), sessionDocument.size(), shownPath);
}

// The score as the classic reader takes it, read once into memory so that the timeline can read
// its tempo from the very text the reader saw. A file that cannot be read into memory is left to
// the classic reader, which reports it exactly as the classic program does.
int loadAsIs(const char* path, const char* shownPath) {
    std::string unreadable;
    int loaded = 0;
    // The reader's format messages wait: after a failure the one line below says it all.
    holdFormatMessages = true;
    heldFormatMessages.clear();
    if (!readScoreBytes(path, &sessionDocument, &unreadable) || sessionDocument.empty()) {
        loaded = loadScoreFile(path, shownPath);
    } else {
        loaded = loadScoreFromBuffer(sessionDocument.data(), sessionDocument.size(), shownPath);
    }
    holdFormatMessages = false;
    if (loaded == 0) {
        for (const std::string& message : heldFormatMessages) {
            std::fputs(message.c_str(), stderr);
            std::fflush(stderr);
        }
    }
    heldFormatMessages.clear();
    if (loaded != 0) {
        std::string reason = lastLoadError;
        if (preparationReads(path)) {
            reason += " (add --prepare: it reads scores as notation programs write them)";
        }
        sayRefused("Could not load the score", path, reason);
    }
    return loaded;
}
// The first bytes of the file, enough to recognise a MIDI file ("" when it cannot be read).
std::string fileStart(const char* path) {
    std::ifstream in(path, std::ios::binary);
    char start[4] = {};
    in.read(start, sizeof start);
    return std::string(start, static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
}

void sayRefusal(const std::string& reason) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    std::fflush(stderr);
}

// A MIDI file read into the piece and the grids, reported as the reader reports a score.
int loadMidi(const ProgramOptions& options, const char* path, const char* shownPath) {
    std::printf("Loading MIDI file...\n");
    std::fflush(stdout);
    if (shownPath != nullptr) {
        std::printf("File : %s\n", shownPath);
        std::fflush(stdout);
    }
    if (!options.parts.empty()) {
        sayRefusal(std::string("Could not load the MIDI file ") + path +
                   ": --part chooses a part of a MusicXML score");
        return kSessionRefused;
    }
    std::string bytes;
    std::string error;
    MidiReadOptions midiOptions;
    midiOptions.splitKey = options.splitKey;
    MidiReadReport report;
    if (!readScoreBytes(path, &bytes, &error) ||
        !readMidi(bytes, midiOptions, &sessionPiece, &report, &error)) {
        sayRefusal(std::string("Could not load the MIDI file ") + path + ": " + error);
        return kSessionRefused;
    }
    GridReport grids;
    fillClassicGrids(sessionPiece, &grids);
    for (const std::vector<std::string>* lines : {&report.changes, &grids.changes}) {
        for (const std::string& line : *lines) {
            sayRefusal(line);
        }
    }
    sessionFromMidi = true;
    sessionTiming = timingOfPiece(sessionPiece);
    sessionTiming.endTick = static_cast<int32_t>(rightNotes.size());
    std::printf("\n");
    std::printf("Total duration: %d\n", currentTick);
    std::printf("Divisions : %d\n", divisions);
    std::printf("Quarter Note Count : %f\n",
                static_cast<double>(currentTick) / static_cast<double>(divisions));
    std::fflush(stdout);
    return 0;
}
}  // namespace

bool preparationReads(const char* path) {
    if (path == nullptr) {
        return false;
    }
    if (fileStart(path) == "MThd") {
        return true;  // a MIDI file: --play reads those too
    }
    PrepareResult prepared;
    return prepareScore(path, PrepareOptions{}, &prepared);
}

namespace {
// The marks of a score read as it is, in the reader's ticks (see readMarksAsRead).
Piece sessionMarks;

// A score the reader takes as it is still plays its dynamics and pedal: the preparation reads
// them from the same text, each measure once as the reader plays it, and its ticks are brought
// to the reader's divisions. Nothing when the two do not count time alike.
void readMarksAsRead() {
    sessionMarks = Piece();
    PrepareOptions options;
    options.repeats = false;
    PrepareResult marks;
    ScoreTiming timing;
    std::string error;
    if (!prepareScoreText(sessionDocument, options, &marks) ||
        !readScoreTiming(sessionDocument.data(), sessionDocument.size(), &timing, &error) ||
        marks.piece.divisions <= 0 || timing.divisions % marks.piece.divisions != 0) {
        return;
    }
    const int32_t factor = timing.divisions / marks.piece.divisions;
    Piece& piece = marks.piece;
    piece.divisions = timing.divisions;
    piece.endTick *= factor;
    for (PieceNote& n : piece.notes) {
        n.tick *= factor;
        n.endTick *= factor;
    }
    for (PiecePedal& p : piece.pedal) {
        p.tick *= factor;
    }
    for (PieceDynamic& d : piece.dynamics) {
        d.tick *= factor;
    }
    for (PieceTempo& t : piece.tempo) {
        t.tick *= factor;
    }
    for (PieceMeasure& m : piece.measures) {
        m.tick *= factor;
    }
    settlePiece(&piece);
    sessionMarks = std::move(piece);
}
}  // namespace

const Piece* sessionPerformancePiece() {
    if (sessionFromMidi) {
        return &sessionPiece;
    }
    if (!sessionPrepared.piece.notes.empty()) {
        return &sessionPrepared.piece;
    }
    return sessionMarks.notes.empty() ? nullptr : &sessionMarks;
}

FingeringChoice chosenFingering(const ProgramOptions& options) {
    if (options.fingering != FingeringChoice::Default) {
        return options.fingering;
    }
    return options.mode == RunMode::Classic ? FingeringChoice::Simple : FingeringChoice::Optimal;
}

int startUpSession(const ProgramOptions& options) {
    setStartValues();
    // Nothing of a score loaded before in this process speaks for this one.
    sessionPrepared = PrepareResult();
    sessionFromMidi = false;
    sessionPiece = Piece();
    sessionMarks = Piece();
    const char* path = options.score.empty() ? kDefaultScorePath : options.score.c_str();
    const char* shownPath = options.score.empty() ? nullptr : options.score.c_str();
    const bool prepare = options.prepare || !options.parts.empty();
    const bool midi = looksLikeMidi(path, fileStart(path));
    if (!midi && options.splitKey >= 0) {
        sayRefusal("quorvel: --split goes with a MIDI file (.mid, .midi)");
        return kSessionRefused;
    }
    const int loaded = midi      ? loadMidi(options, path, shownPath)
                       : prepare ? loadPrepared(options, path, shownPath)
                                 : loadAsIs(path, shownPath);
    if (loaded != 0) {
        return loaded == kSessionRefused ? kSessionRefused : kSessionNotLoaded;
    }
    if (!midi && !prepare && options.mode != RunMode::Classic) {
        readMarksAsRead();
    }
    createKeyStates();
    if (chosenFingering(options) == FingeringChoice::Optimal) {
        if (midi) {
            sessionPrinted.clear();  // a MIDI file prints no fingering
        } else {
            collectPrintedFingers(prepare);
        }
        collectMeasureStarts(midi);
        planOptimalWithPrintedFingers();
        replanHands = planOptimalWithPrintedFingers;
    } else {
        planClassic();
    }
    return 0;
}
