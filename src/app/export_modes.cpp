// The --export, --still and --export-midi modes of the program: the command line's request and
// the piece the session loaded, handed to the exporter.

#include "app/export_modes.h"

#include <cstdio>
#include <string>

#include "app/session.h"
#include "export/export.h"
#include "export/midi_export.h"
#include "score/musicxml_reader.h"
#include "timeline/expression.h"
#include "timeline/piece_timing.h"

namespace {
ExportRequest requestFrom(const ProgramOptions& options) {
    ExportRequest request;
    request.outputPath = options.outputPath;
    request.width = options.width;
    request.height = options.height;
    request.fps = options.fps;
    if (!cameraViewFromName(options.camera, &request.camera)) {
        request.camera = CameraView::Player;
    }
    request.speed = options.speed;
    request.fromMeasure = options.fromMeasure;
    request.toMeasure = options.toMeasure;
    request.sound = !options.mute;
    request.soundfont = options.soundfont;
    request.at = options.at;
    request.inputs = {options.score.empty() ? kDefaultScorePath : options.score, options.soundfont};
    // The program always draws the new look; the classic scene stays for the classic window.
    request.newLook = true;
    if (!lookViewFromName(options.camera.c_str(), &request.lookView)) {
        request.lookView = LookView::Player;
    }
    std::string unused;
    if (!options.colors.empty()) {
        parsePalette(options.colors, &request.palette, &unused);
    }
    if (!options.skin.empty()) {
        parseSkin(options.skin, &request.palette, &unused);
    }
    request.timing = &sessionTiming;
    request.piece = sessionPerformancePiece();
    request.shown = &sessionPiece;
    request.soundedHand = options.hand;
    request.metronome = options.metronome;
    return request;
}
}  // namespace

int checkExportOutputOf(const ProgramOptions& options) {
    OutputTarget target;
    std::string error;
    if (options.mode == RunMode::MidiFile) {
        if (checkMidiOutput(options.outputPath,
                            options.score.empty() ? kDefaultScorePath : options.score, &target,
                            &error)) {
            return 0;
        }
        std::fprintf(stderr, "Could not write the MIDI file %s: %s; nothing was written\n",
                     options.outputPath.c_str(), error.c_str());
        std::fflush(stderr);
        return 1;
    }
    if (checkExportOutput(requestFrom(options), options.mode == RunMode::Export, &target, &error)) {
        return 0;
    }
    std::fprintf(
        stderr, "%s %s: %s\n",
        options.mode == RunMode::Export ? "Could not export" : "Could not save the picture",
        options.outputPath.c_str(), error.c_str());
    std::fflush(stderr);
    return 1;
}

// The request carries the session's timing and pieces, so the exporter reads no document.
int runExport(const ProgramOptions& options) {
    return exportVideo(std::string(), requestFrom(options));
}

int runStill(const ProgramOptions& options) {
    return exportStill(std::string(), requestFrom(options));
}

int runMidiExport(const ProgramOptions& options) {
    const std::string input = options.score.empty() ? kDefaultScorePath : options.score;
    if (sessionFromMidi) {
        return exportMidiFile(sessionPiece, input, options.outputPath);
    }
    Piece played =
        pieceFromClassicGrids(tempoOfTiming(sessionTiming), measuresOfTiming(sessionTiming), true);
    carryExpression(sessionPerformancePiece(), &played);
    return exportMidiFile(played, input, options.outputPath);
}
