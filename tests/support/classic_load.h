// Loads a strict-form document into the classic globals and plans both hands with the classic
// planner, as the classic program does at start-up: the common set-up of tests that need a
// score in the grids.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "app/state.h"
#include "fingering/planner.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

// The whole file at `path` ("" when it cannot be read).
inline std::string documentAt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The reader's status (0 loaded); the hands are planned only when the document loaded.
inline int loadAndPlanClassic(const std::string& document) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    const int loaded = loadScoreFromBuffer(document.data(), document.size(), nullptr);
    if (loaded != 0) {
        return loaded;
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
    return 0;
}
