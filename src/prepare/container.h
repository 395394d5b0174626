#pragma once

// The MusicXML text held by a score file: a plain .xml/.musicxml file as it is, or the root file
// of a compressed .mxl (a zip archive) named by its META-INF/container.xml. UTF-16 text (with a
// byte order mark, or recognised by its first characters) is converted to UTF-8 and its XML
// declaration made to say so.

#include <cstddef>
#include <string>

#include "base/bounded_file.h"
#include "base/fault_counter.h"

// Each returns false with a one-line reason in *error (no trailing newline) when the score
// cannot be read; *xml is then left empty.
bool readScoreText(const std::string& path, std::string* xml, std::string* error);
// The file's bytes as they are, at most the reader's 256 MiB; false with a one-line reason.
bool readScoreBytes(const std::string& path, std::string* bytes, std::string* error);
bool readScoreTextFromMemory(const std::string& bytes, std::string* xml, std::string* error);

// Largest text we accept, read from a file or inflated from an archive's entry: 256 MiB, the
// reader's own bound on a score file.
constexpr size_t kMaxScoreTextBytes = kMaxFileBytes;

// ---- Test hooks: fault injection. The program leaves them at 0. ----
extern FaultCounter containerZipFaults;  // libzip calls
extern long& containerZipCallsMade;      // containerZipFaults.made
extern long& containerFailZipCall;       // containerZipFaults.failAt
