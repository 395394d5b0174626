#pragma once

#include <string>
#include <vector>

#include "fingering/optimal_planner.h"

// The fingerings printed in a strict-form MusicXML document (the form the reader loads: one piano
// part, G clef staff for the right hand, F clef staff for the left): every pitched note with a
// <technical><fingering> gets a PrintedFinger at the tick where the reader places its first tick,
// with the reader's key number and its cursor rules (chord, backup, forward, grace notes without
// duration). "4-1" and "4 1" (finger changes, alternatives) count by their first finger. The
// part read is the first part whose score-part names a piano, or else the first part. Returns
// false with a one-line reason when the text is not XML. For a caller that holds only the text
// (tools, tests); a loaded score's printed fingers come from the tree the reader parsed.
bool readPrintedFingers(const std::string& xml, std::vector<PrintedFinger>* printed,
                        std::string* error);
