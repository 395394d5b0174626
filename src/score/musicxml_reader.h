#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pugi {
class xml_document;
}

// The score used when the command line names none, relative to the working directory.
constexpr const char* kDefaultScorePath = "../debug/OrlundePianoSonata.xml";

// Reads the piano part of the MusicXML score named by argv[1] (or the default score) into
// rightNotes and leftNotes, sets divisions and scanLength, and prints the progress and totals.
// Returns 0 on success and -1 on any failure, after printing why.
int32_t loadScore(int argc, char** argv);

// The same for the score in the file at `path`, printed as "File : <shownPath>" (null prints no
// File line): loadScore(2, {program, path}) is loadScoreFile(path, path). With `quiet` the
// progress and totals on standard output are left out (format messages still go to standard
// error), for a caller that may be writing its own output there.
int32_t loadScoreFile(const char* path, const char* shownPath, bool quiet = false);

// loadScoreFile (not quiet) that also hands over the document it parsed, in *tree after a
// success (null after a failure), so that what the grids do not hold (tempo, measures, printed
// fingers, titles, marks) is read from the same tree rather than from the text again.
int32_t loadScoreFileKeepingTree(const char* path, const char* shownPath,
                                 std::shared_ptr<const pugi::xml_document>* tree);

// The same for a score held in memory: the `size` bytes at `data`. `shownPath` is printed as
// "File : <shownPath>" (null prints no File line); messages, totals and grids are those of
// loadScore for a file holding the same bytes.
int32_t loadScoreFromBuffer(const char* data, size_t size, const char* shownPath,
                            bool quiet = false);

// Why the last loadScore or loadScoreFromBuffer returned -1, as one line without a newline
// (the parser's reason, or the last format message the reader printed); empty after a success.
// Written by the reader; read by the modes that report a refused score in one line of their
// own. The classic messages above are printed exactly as before.
extern std::string lastLoadError;
// True when that failure came before any reading of the score: the file could not be read or
// parsed as XML at all (missing, unreadable, compressed, not well-formed). Written by the reader.
extern bool lastLoadUnparsed;

// The reader's format messages (its perror channel on standard error) are printed as they come,
// as the classic program prints them; with holdFormatMessages set they are kept instead in
// heldFormatMessages, each exactly as it would have been printed, so that a mode that reports
// a refused score in one line of its own can print them after a success and leave them out
// after a failure. Both written by the caller before a load; the messages by the reader.
extern bool holdFormatMessages;
extern std::vector<std::string> heldFormatMessages;

// The integer written as `text` (-2..4999 in plain decimal), or -1 with a message.
int32_t textToInt(const char* text);

// The offset of a step letter C..B (1, 3, 5, 6, 8, 10, 12), or -1 with a message.
int32_t stepOffset(const char* text);
