// The --export and --still modes of the program: the command line's request and the document
// the session loaded, handed to the exporter.

#include <string>

#include "app/session.h"
#include "export/export.h"

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
    return request;
}
}  // namespace

int runExport(const ProgramOptions& options) {
    return exportVideo(sessionDocument, requestFrom(options));
}

int runStill(const ProgramOptions& options) {
    return exportStill(sessionDocument, requestFrom(options));
}
