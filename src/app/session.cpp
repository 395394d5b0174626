#include "app/session.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <pugixml.hpp>
#include <vector>

#include "app/state.h"
#include "fingering/optimal_planner.h"
#include "fingering/planner.h"
#include "midi/midi_file.h"
#include "prepare/container.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/expression.h"
#include "timeline/piece_timing.h"
#include "timeline/score_tree.h"

// Sections: the planners' inputs; the three sources (prepared, as read, MIDI); the marks of a
// score read as it is; start-up.

Piece sessionPiece;
ScoreTiming sessionTiming;
bool sessionFromMidi = false;
PrepareResult sessionPrepared;
SessionDocument sessionDocument;

const std::string& SessionDocument::text() const {
    if (pending_) {
        pending_ = false;
        PrepareOptions options = options_;
        options.strictText = true;
        PrepareResult prepared;
        if (prepareScore(path_, options, &prepared)) {
            text_ = std::move(prepared.xml);
        }
    }
    return text_;
}

void SessionDocument::clear() {
    text_.clear();
    pending_ = false;
    path_.clear();
}

void SessionDocument::preparedFrom(const std::string& path, const PrepareOptions& options) {
    clear();
    path_ = path;
    options_ = options;
    pending_ = true;
}

namespace {
// ---- The planners' inputs, written once by startUpSession; read by every replanning. ----

// The fingerings printed in the score, which the optimal planner keeps.
std::vector<PrintedFinger> sessionPrinted;
// Where the measures of the loaded score start (ticks, rising), so that the planner fingers a
// measure played again as it fingered it before.
std::vector<int32_t> sessionMeasureStarts;
// Whether the marks of a score read as it is were read (see readMarksAsRead).
bool sessionMarksRead = false;

void collectPlannerInputs() {
    sessionPrinted.clear();
    for (const PieceNote& note : sessionPiece.notes) {
        if (note.printedFinger >= 1 && note.printedFinger <= 5) {
            sessionPrinted.push_back({note.hand, note.tick, note.key, note.printedFinger - 1});
        }
    }
    sessionMeasureStarts.clear();
    for (const MeasureStart& m : sessionTiming.measures) {
        if (sessionMeasureStarts.empty() || m.tick > sessionMeasureStarts.back()) {
            sessionMeasureStarts.push_back(m.tick);
        }
    }
}

// Plans both hands with the optimal planner, keeping the printed fingerings.
void planOptimalWithPrintedFingers() {
    planHandsOptimal(sessionPrinted, sessionMeasureStarts);
}

void planClassic() {
    planRightHand();
    planLeftHand();
}

// The one line on standard error that ends a mode whose score was refused: what failed, the
// file and the reason.
void sayRefused(const char* what, const char* path, const std::string& reason) {
    std::fprintf(stderr, "%s %s: %s\n", what, path, reason.c_str());
    std::fflush(stderr);
}

void sayRefusal(const std::string& reason) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    std::fflush(stderr);
}

// The reader's totals, as it prints them after a load.
void printTotals() {
    std::printf("\n");
    std::printf("Total duration: %d\n", currentTick);
    std::printf("Divisions : %d\n", divisions);
    std::printf("Quarter Note Count : %f\n",
                static_cast<double>(currentTick) / static_cast<double>(divisions));
    std::fflush(stdout);
}

void printLoading(const char* what, const char* shownPath) {
    std::printf("%s\n", what);
    std::fflush(stdout);
    if (shownPath != nullptr) {
        std::printf("File : %s\n", shownPath);
        std::fflush(stdout);
    }
}

// ---- The three sources ----

// The prepared score: its piece into the grids, exactly as the reader would fill them from the
// strict document the preparation writes, with the reader's messages. -1 after a printed reason.
int loadPrepared(const ProgramOptions& options, const char* path, const char* shownPath) {
    PrepareOptions prepareOptions;
    prepareOptions.parts = options.parts;
    prepareOptions.repeats = options.repeats;
    // The performance plays ornaments out; the classic window keeps the notes as written.
    prepareOptions.ornaments = options.mode != RunMode::Classic;
    // Only the notes and the piece: the strict document is written if anything asks for it.
    prepareOptions.strictText = false;
    if (!prepareScore(path, prepareOptions, &sessionPrepared)) {
        printLoading("Loading MusicXML file...", shownPath);
        sayRefused("Could not prepare the score", path, sessionPrepared.error);
        return -1;
    }
    for (const std::string& change : sessionPrepared.changes) {
        std::fprintf(stderr, "%s\n", change.c_str());
        std::fflush(stderr);
    }
    printLoading("Loading MusicXML file...", shownPath);
    sessionPiece = std::move(sessionPrepared.piece);
    sessionPrepared.piece = Piece();
    sessionDocument.preparedFrom(path, prepareOptions);
    if (!fillStrictGrids(sessionPiece)) {
        sayRefused("Could not prepare the score", path, "more than five notes at once in a hand");
        return -1;
    }
    printTotals();
    sessionTiming = timingOfPiece(sessionPiece);
    return 0;
}

// The score as the classic reader takes it, with its messages; the reader hands over the tree it
// parsed, and the tempo, measures, printed fingers, titles and marks are read from that tree.
int loadAsIs(const char* path, const char* shownPath,
             std::shared_ptr<const pugi::xml_document>* tree) {
    // The reader's format messages wait: after a failure the one line below says it all.
    holdFormatMessages = true;
    heldFormatMessages.clear();
    const int loaded = loadScoreFileKeepingTree(path, shownPath, tree);
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
        // Only a hint for the message: the preparation reads the file once more after a refusal.
        if (preparationReads(path)) {
            reason += " (add --prepare: it reads scores as notation programs write them)";
        }
        sayRefused("Could not load the score", path, reason);
        return loaded;
    }
    ScoreTreeReading reading;
    std::string error;
    if (*tree != nullptr && readScoreTree(**tree, &reading, &error)) {
        sessionPiece = pieceOfLoadedScore(reading);
        sessionTiming = reading.timing;
    } else {
        // Not reached for a score the reader loaded (it has a piano part with divisions); the
        // grids are played all the same, at 120 quarters a minute, in one measure.
        sessionPiece = pieceFromClassicGrids({}, {}, false);
        sessionTiming = timingOfPiece(sessionPiece);
    }
    return 0;
}

// The first bytes of the file, enough to recognise a MIDI file ("" when it cannot be read).
std::string fileStart(const char* path) {
    std::ifstream in(path, std::ios::binary);
    char start[4] = {};
    in.read(start, sizeof start);
    return std::string(start, static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
}

// A MIDI file read into the piece and the grids, reported as the reader reports a score.
int loadMidi(const ProgramOptions& options, const char* path, const char* shownPath) {
    printLoading("Loading MIDI file...", shownPath);
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
    printTotals();
    return 0;
}

// ---- The marks of a score read as it is ----

// A score the reader takes as it is still plays its dynamics and pedal: the preparation reads
// them from the tree the reader parsed, each measure once as the reader plays it, and its ticks
// are brought to the reader's divisions; they are carried onto the piece's notes. Nothing when
// the two do not count time alike.
void readMarksAsRead(const pugi::xml_document& tree) {
    PrepareOptions options;
    options.repeats = false;
    PrepareResult marks;
    const int32_t readerDivisions = sessionTiming.divisions;
    if (!prepareScoreTree(tree, options, &marks) || marks.piece.divisions <= 0 ||
        readerDivisions % marks.piece.divisions != 0) {
        return;
    }
    const int32_t factor = readerDivisions / marks.piece.divisions;
    Piece& piece = marks.piece;
    piece.divisions = readerDivisions;
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
    carryExpression(&piece, &sessionPiece);
    sessionMarksRead = true;
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
    PrepareOptions options;
    options.strictText = false;  // whether it reads, not what it would write
    return prepareScore(path, options, &prepared);
}

const Piece* sessionPerformancePiece() {
    if (sessionFromMidi || !sessionPrepared.notes.empty() || sessionMarksRead) {
        return &sessionPiece;
    }
    return nullptr;
}

FingeringChoice chosenFingering(const ProgramOptions& options) {
    if (options.fingering != FingeringChoice::Default) {
        return options.fingering;
    }
    return options.mode == RunMode::Classic ? FingeringChoice::Simple : FingeringChoice::Optimal;
}

// ---- Start-up ----

int startUpSession(const ProgramOptions& options) {
    setStartValues();
    // Nothing of a score loaded before in this process speaks for this one.
    sessionPrepared = PrepareResult();
    sessionFromMidi = false;
    sessionPiece = Piece();
    sessionTiming = ScoreTiming();
    sessionDocument.clear();
    sessionMarksRead = false;
    const char* path = options.score.empty() ? kDefaultScorePath : options.score.c_str();
    const char* shownPath = options.score.empty() ? nullptr : options.score.c_str();
    const bool prepare = options.prepare || !options.parts.empty();
    const bool midi = looksLikeMidi(path, fileStart(path));
    if (!midi && options.splitKey >= 0) {
        sayRefusal("quorvel: --split goes with a MIDI file (.mid, .midi)");
        return kSessionRefused;
    }
    std::shared_ptr<const pugi::xml_document> tree;
    const int loaded = midi      ? loadMidi(options, path, shownPath)
                       : prepare ? loadPrepared(options, path, shownPath)
                                 : loadAsIs(path, shownPath, &tree);
    if (loaded != 0) {
        return loaded == kSessionRefused ? kSessionRefused : kSessionNotLoaded;
    }
    if (tree != nullptr && options.mode != RunMode::Classic) {
        readMarksAsRead(*tree);
    }
    tree.reset();  // read once; the tree goes with the reading
    createKeyStates();
    if (chosenFingering(options) == FingeringChoice::Optimal) {
        collectPlannerInputs();
        planOptimalWithPrintedFingers();
        replanHands = planOptimalWithPrintedFingers;
    } else {
        planClassic();
    }
    return 0;
}
