#include "export/midi_export.h"

#include <cstdio>

#include "export/output_file.h"
#include "midi/midi_file.h"

namespace {
void sayFailure(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "Could not write the MIDI file %s: %s\n", path.c_str(), reason.c_str());
    std::fflush(stderr);
}

}  // namespace

int exportMidiFile(const Piece& piece, const std::string& inputPath,
                   const std::string& outputPath) {
    OutputTarget target;
    std::string error;
    if (!checkMidiOutput(outputPath, inputPath, &target, &error)) {
        sayFailure(outputPath, error + "; nothing was written");
        return 1;
    }
    if (!claimTemporary(target.temporary, &error)) {
        sayFailure(outputPath, error + "; nothing was written");
        return 1;
    }
    if (!writeMidi(piece, target.temporary, &error)) {
        discardOutput(target.temporary.c_str());
        sayFailure(outputPath, error + "; nothing was written");
        return 1;
    }
    if (!publishOutput(target.temporary, target.path, &error)) {
        sayFailure(outputPath, error);
        return 1;
    }
    std::printf("Wrote %s: %zu notes\n", outputPath.c_str(), piece.notes.size());
    std::fflush(stdout);
    return 0;
}

bool checkMidiOutput(const std::string& outputPath, const std::string& inputPath,
                     OutputTarget* target, std::string* error) {
    return checkNotScoreName(outputPath, "--export-midi", "a MIDI file (name it .mid)", error,
                             {".mid", ".midi"}) &&
           checkOutput(outputPath, {inputPath}, target, error);
}
