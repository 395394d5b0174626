#include <cstdio>

#include "app/export_modes.h"
#include "app/options.h"
#include "app/realtime.h"
#include "app/session.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "export/export.h"
#include "score/musicxml_reader.h"

int main(int argc, char** argv) {
    if (!hasLongOption(argc, argv)) {
        if (refuseUnknownFirstOption(argc, argv)) {
            return 1;
        }
        // The classic program: the first argument is the score, the rest is ignored.
        if (startUp(argc, argv) != 0) {
            // The reader has said why on its own channels, exactly as ever. A file it could not
            // even parse that the preparation reads (a compressed or re-encoded export of a
            // notation program) gets one line of advice after them.
            if (argc >= 2 && lastLoadUnparsed && preparationReads(argv[1])) {
                std::fprintf(stderr, "This score can be played with: quorvel --play %s\n", argv[1]);
                std::fflush(stderr);
            }
            return 0;
        }
        runWindow(argc, argv);
        return 0;
    }

    ProgramOptions options;
    switch (parseProgramOptions(argc, argv, &options)) {
        case ParseOutcome::Exit0:
            return 0;
        case ParseOutcome::Exit1:
            return 1;
        case ParseOutcome::Run:
            break;
    }
    // A writer checks its output before any work, so that a refused name costs nothing.
    if ((options.mode == RunMode::Export || options.mode == RunMode::Still ||
         options.mode == RunMode::MidiFile) &&
        checkExportOutputOf(options) != 0) {
        return 1;
    }
    if (startUpSession(options) != 0) {
        return 1;  // one line on standard error has said which file and why
    }
    // GLUT reads its own options (-display, -geometry) from the command line; ours are not for it.
    int glutArgc = 1;
    switch (options.mode) {
        case RunMode::Classic:
            runWindow(glutArgc, argv);
            return 0;
        case RunMode::Realtime:
            return runRealtime(options, glutArgc, argv);
        case RunMode::Export:
            return runExport(options);
        case RunMode::Still:
            return runStill(options);
        case RunMode::MidiFile:
            return runMidiExport(options);
    }
    return 0;
}
