#pragma once

// The MusicXML text held by a score file: a plain .xml/.musicxml file as it is, or the root file
// of a compressed .mxl (a zip archive) named by its META-INF/container.xml. UTF-16 text (with a
// byte order mark, or recognised by its first characters) is converted to UTF-8 and its XML
// declaration made to say so.

#include <cstddef>
#include <string>
#include <utility>

#include "base/bounded_file.h"
#include "base/fault_counter.h"

// Each returns false with a one-line reason in *error (no trailing newline) when the score
// cannot be read; *xml is then left empty.
bool readScoreText(const std::string& path, std::string* xml, std::string* error);

// A score's MusicXML text in memory the caller may change, so that a parser can work in place:
// a plain UTF-8 file as it was read (never zero-filled, never copied), or the text taken from an
// archive or converted from a wide encoding. A byte beyond size() is always there, for a
// parser's terminator.
class ScoreText {
public:
    ScoreText() = default;
    ScoreText(const ScoreText&) = delete;
    ScoreText& operator=(const ScoreText&) = delete;
    ~ScoreText();
    char* data() { return read_ != nullptr ? read_ : &converted_[0]; }
    size_t size() const { return read_ != nullptr ? readSize_ : converted_.size(); }

private:
    friend bool readScoreText(const std::string& path, ScoreText* text, std::string* error);
    char* read_ = nullptr;  // the file's bytes, malloc'd by the bounded reader
    size_t readSize_ = 0;
    std::string converted_;
};
// The same reading as above, into a ScoreText.
bool readScoreText(const std::string& path, ScoreText* text, std::string* error);
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
