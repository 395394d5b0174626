#pragma once

#include <string>
#include <vector>

#include "prepare/prepare.h"

// Writes fingerings into a score: prepares the score at `path` (any score the preparation reads),
// plans both hands with the whole-piece planner and returns the source's MusicXML text with a
// <notations><technical><fingering> on every note of the piano music that is played. Everything
// else in the text stays as it was. A note that already carries a fingering keeps it (and the
// planner plans around it) unless `replace` is set, in which case its first fingering is replaced
// by the planned one. *fingered counts the notes that got a planned finger, *kept those whose
// printed finger was left. false with a one-line reason in *error. `partLines`, when given,
// receives the preparation's report of the part it chose ("parts: ..." lines), which says so
// when that part is not a piano.
bool annotateFingering(const std::string& path, const PrepareOptions& options, bool replace,
                       std::string* output, size_t* fingered, size_t* kept, std::string* error,
                       std::vector<std::string>* partLines = nullptr);
