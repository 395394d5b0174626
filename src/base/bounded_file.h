#pragma once

// One reader for every file the program reads whole (scores, archives, MIDI files, the fingering
// corpus): one size limit and one message, so that a file too large or unreadable is refused the
// same way whichever part of the program opens it.

#include <cstddef>
#include <string>

// Largest file read whole: 256 MiB, some twenty times the largest piano scores, and with a parsed
// tree about three times that in memory. A file beyond it, or an endless stream such as /dev/zero
// or a pipe that never closes its end, fails with EFBIG instead of filling memory.
constexpr size_t kMaxFileBytes = size_t{256} << 20;

// Reads the whole file at `path` into `bytes`; false with errno set when it cannot (EFBIG beyond
// kMaxFileBytes), `bytes` then empty.
bool readBoundedFile(const char* path, std::string* bytes);
// The same into a malloc'd buffer of its own (for a parser that works in place), not zero-filled,
// with one byte more than *size that holds a terminator; the caller frees it. On failure returns
// false with errno set and *data null.
bool readBoundedFile(const char* path, char** data, size_t* size);

// The one line for a file that cannot be read: "the file cannot be read (<the system's reason>)".
std::string unreadableFile(int errorNumber);
