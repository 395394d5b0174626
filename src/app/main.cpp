#include "app/options.h"
#include "app/realtime.h"
#include "app/session.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "export/export.h"

int main(int argc, char** argv) {
    if (!hasLongOption(argc, argv)) {
        // The classic program: the first argument is the score, the rest is ignored.
        if (startUp(argc, argv) != 0) {
            return 0;  // the score could not be loaded; the reader has said why
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
    const bool windowed = options.mode == RunMode::Classic || options.mode == RunMode::Realtime;
    const int started = startUpSession(options);
    if (started != 0) {
        // The window modes end as the classic program does after a score it cannot load; the
        // file-writing modes tell scripts that nothing was written, and so does every mode on a
        // file refused outright (a bad MIDI file).
        return windowed && started == kSessionNotLoaded ? 0 : 1;
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
