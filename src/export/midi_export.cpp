#include "export/midi_export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "export/output_file.h"
#include "midi/midi_file.h"

namespace {
void sayFailure(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "Could not write the MIDI file %s: %s\n", path.c_str(), reason.c_str());
    std::fflush(stderr);
}

// The file a write to `path` must replace: `path` itself, or the end of its chain of symbolic
// links (which need not exist yet). false with a reason when it may not be written.
bool writableTarget(const std::string& path, const std::string& inputPath, std::string* target,
                    std::string* error) {
    *target = path;
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) != nullptr) {
            *target = resolved;
        } else {
            // A link to a file not there yet: the file it names, beside the link.
            char named[PATH_MAX];
            const ssize_t length = readlink(path.c_str(), named, sizeof named - 1);
            if (length <= 0) {
                *error = systemReason(errno);
                return false;
            }
            named[length] = '\0';
            const size_t slash = path.rfind('/');
            *target = named[0] == '/' || slash == std::string::npos
                          ? std::string(named)
                          : path.substr(0, slash + 1) + named;
        }
    }
    struct stat out {};
    if (stat(target->c_str(), &out) != 0) {
        return true;  // a new file
    }
    if (S_ISDIR(out.st_mode)) {
        *error = "it is a folder";
        return false;
    }
    if (!S_ISREG(out.st_mode)) {
        *error = "it is not a regular file";
        return false;
    }
    struct stat in {};
    if (stat(inputPath.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        *error = "it is the score being read";
        return false;
    }
    return true;
}
}  // namespace

int exportMidiFile(const Piece& piece, const std::string& inputPath,
                   const std::string& outputPath) {
    std::string target;
    std::string error;
    if (!writableTarget(outputPath, inputPath, &target, &error)) {
        sayFailure(outputPath, error + "; nothing was written");
        return 1;
    }
    const std::string temporary = temporaryPathFor(target);
    if (!writeMidi(piece, temporary, &error)) {
        discardOutput(temporary.c_str());
        sayFailure(outputPath, error + "; nothing was written");
        return 1;
    }
    if (!publishOutput(temporary, target, &error)) {
        sayFailure(outputPath, error);
        return 1;
    }
    std::printf("Wrote %s: %zu notes\n", outputPath.c_str(), piece.notes.size());
    std::fflush(stdout);
    return 0;
}
