#pragma once

#include <string>
#include <vector>

// The output rule every writer of the project follows (videos, pictures, prepared and fingered
// scores, and any writer added later), so that no command can destroy a user's file:
//
//   1. checkOutput, before any work: the output must not be one of the inputs (the same file,
//      also through symbolic or hard links: device and inode are compared), must not be a
//      folder, and when it exists must be a regular file (a missing or unwritable folder is
//      reported by the writer's own first write). A symbolic link is followed to the file it names,
//      which is what gets written: the link itself is kept.
//   2. The new file is written to a temporary beside that file (same folder, so the final
//      rename stays on one file system and is atomic), made new by createTemporary: nothing
//      already there under that name is ever written.
//   3. publishOutput renames the complete temporary over the file; on any failure or interrupt
//      discardOutput removes the temporary instead, so an existing file is only ever replaced
//      by a complete new one and nothing half-written is left behind.
//
// Writers that hold their whole output in memory do 2 and 3 with writeOutput.

// Where a checked output goes.
struct OutputTarget {
    std::string shown;      // the name as the user gave it, for messages
    std::string path;       // the file that is written: `shown` with its symbolic links followed
    std::string temporary;  // beside `path`; the new file until it is complete
};

// Step 1. `inputs` are the files the run reads (an empty name is skipped). false with a
// one-line reason (no newline; the caller names the output) when the output is refused.
bool checkOutput(const std::string& output, const std::vector<std::string>& inputs,
                 OutputTarget* target, std::string* error);

// For writers of videos and pictures: refuses an output named like a score (.xml, .musicxml,
// .mxl, .mid, .midi, any case), the usual sign of a forgotten output name (`--export song.xml`).
// `option` is the writer's option ("--export"), `writes` what it writes ("an MP4 video
// (.mp4)").
// `own` lists the writer's own extensions among them ({".mid", ".midi"} for a MIDI writer),
// which are not refused.
bool checkNotScoreName(const std::string& output, const std::string& option,
                       const std::string& writes, std::string* error,
                       const std::vector<std::string>& own = {});

// Step 2's first act, for every writer: the temporary made new and empty, open for writing (a
// descriptor; -1 with a one-line reason). Whatever already stands under its name (a file, or a
// symbolic link planted in a shared folder to make the writer truncate another file) is never
// opened, only reported.
int createTemporary(const std::string& temporary, std::string* error);

// For writers that hand the temporary to a library that opens it by name (videos, pictures,
// MIDI files): the temporary made as createTemporary makes it and closed again, so that the
// library writes into the new file this process owns. false with a one-line reason.
bool claimTemporary(const std::string& temporary, std::string* error);

// Whether step 2 could begin now: the temporary is made and removed again. For writers that
// work long before they write, so that a folder they cannot write to, or a name in the way, is
// said before the work, not after it. false with a one-line reason.
bool canWriteOutput(const OutputTarget& target, std::string* error);

// Steps 2 and 3 for `bytes` held in memory: written to target.temporary and published. SIGINT
// and SIGTERM while writing remove the temporary before the process ends. false with a
// one-line reason; nothing is then left behind.
bool writeOutput(const OutputTarget& target, const std::string& bytes, std::string* error);

// The temporary name for `path`: the same folder, a hidden name made of the file's name and
// the process id, with `.part` at the end.
std::string temporaryPathFor(const std::string& path);

// Renames the finished temporary onto `path`; an existing file's permissions are kept. false
// with a one-line reason (no newline) when that fails; the temporary is then removed.
bool publishOutput(const std::string& temporary, const std::string& path, std::string* error);

// Removes the temporary if it exists. Safe to call from a signal handler (unlink only).
void discardOutput(const char* temporary);

// "<system error text>" for errno, as one line.
std::string systemReason(int error);
