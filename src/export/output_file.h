#pragma once

#include <string>

// Files the exporter writes appear under their name only when complete: everything is written
// to a temporary file in the same folder (so the final rename stays on one file system and is
// atomic) and renamed at the end; on any failure or interrupt the temporary is removed.

// The temporary name for `path`: the same folder, a hidden name made of the file's name and
// the process id, with `.part` at the end.
std::string temporaryPathFor(const std::string& path);

// Renames the finished temporary onto `path`. false with a one-line reason (no newline) when
// that fails; the temporary is then removed.
bool publishOutput(const std::string& temporary, const std::string& path, std::string* error);

// Removes the temporary if it exists. Safe to call from a signal handler (unlink only).
void discardOutput(const char* temporary);

// "<system error text>" for errno, as one line.
std::string systemReason(int error);
