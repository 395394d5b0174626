// How often the planners give a note the finger that a method book prints for it. Reads the
// fingered exercises in tests/data/fingering and, as a held-out set, every score in
// /work/realscores and /work/realscores/demos that carries fingerings (through the preparation,
// so compressed and loosely written scores count too), hides the printed fingers from the planners,
// and prints per file and in total the share of printed notes that get exactly the printed finger:
// for the region planner (slot k = finger k after planRightHand / planLeftHand) and for the
// whole-piece planner, with its fitted costs and with the hand-set rules alone.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/optimal_planner.h"
#include "fingering/optimal_printed.h"
#include "fingering/planner.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

struct Tally {
    size_t notes = 0;
    size_t region = 0;
    size_t optimal = 0;
    size_t handSet = 0;
};

bool load(const std::string& path) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    std::string program = "bench";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    if (loadScore(2, argv) != 0) {
        return false;
    }
    createKeyStates();
    return true;
}

size_t matches(const std::vector<PrintedFinger>& printed) {
    size_t count = 0;
    for (const PrintedFinger& p : printed) {
        const std::vector<NoteEvent>& grid = p.hand == 0 ? rightNotes : leftNotes;
        if (p.tick >= 0 && static_cast<size_t>(p.tick) < grid.size() &&
            grid[p.tick].slot[p.finger].key == p.key) {
            ++count;
        }
    }
    return count;
}

bool loadText(const std::string& xml) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    if (loadScoreFromBuffer(xml.data(), xml.size(), nullptr) != 0) {
        return false;
    }
    createKeyStates();
    return true;
}

void add(const std::string& path, size_t notes, size_t region, size_t optimal, size_t handSet,
         Tally* total) {
    std::printf("%-40s %5zu notes  region %5.1f %%  optimal %5.1f %%  hand-set %5.1f %%\n",
                std::filesystem::path(path).filename().c_str(), notes, 100.0 * region / notes,
                100.0 * optimal / notes, 100.0 * handSet / notes);
    std::fflush(stdout);
    total->notes += notes;
    total->region += region;
    total->optimal += optimal;
    total->handSet += handSet;
}

// A score as notation programs write it (plain or compressed), through the preparation, whose
// notes carry the fingers printed in the source.
bool measurePrepared(const std::string& path, Tally* total) {
    PrepareResult prepared;
    if (!prepareScore(path, PrepareOptions{}, &prepared)) {
        std::printf("%s: %s\n", path.c_str(), prepared.error.c_str());
        return false;
    }
    std::vector<PrintedFinger> printed;
    for (const PreparedNote& n : prepared.notes) {
        if (n.printedFinger >= 1 && n.printedFinger <= 5) {
            printed.push_back({n.hand, n.tick, n.key, n.printedFinger - 1});
        }
    }
    if (printed.empty() || !loadText(prepared.xml)) {
        std::printf("%-40s no printed fingering\n", std::filesystem::path(path).filename().c_str());
        return false;
    }
    planRightHand();
    planLeftHand();
    const size_t region = matches(printed);
    loadText(prepared.xml);
    planHandsOptimal({});
    const size_t optimal = matches(printed);
    loadText(prepared.xml);
    planHandsOptimal({}, OptimalCosts::HandSet);
    add(path, printed.size(), region, optimal, matches(printed), total);
    return true;
}

// Adds one file to the tally; false when it cannot be read or has no printed fingering.
bool measure(const std::string& path, Tally* total) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<PrintedFinger> printed;
    std::string error;
    if (!readPrintedFingers(text.str(), &printed, &error) || printed.empty() || !load(path)) {
        return false;
    }
    planRightHand();
    planLeftHand();
    const size_t region = matches(printed);
    load(path);
    planHandsOptimal({});
    const size_t optimal = matches(printed);
    load(path);
    planHandsOptimal({}, OptimalCosts::HandSet);
    add(path, printed.size(), region, optimal, matches(printed), total);
    return true;
}

std::vector<std::string> scoresIn(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".xml" || ext == ".musicxml" || ext == ".mxl") {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

void report(const char* name, const Tally& t) {
    if (t.notes == 0) {
        std::printf("%s: no fingered notes\n", name);
    } else {
        std::printf(
            "%s: %zu printed fingers, exact match region %.1f %%, optimal %.1f %% "
            "(hand-set rules alone %.1f %%)\n",
            name, t.notes, 100.0 * t.region / t.notes, 100.0 * t.optimal / t.notes,
            100.0 * t.handSet / t.notes);
    }
    std::fflush(stdout);
}

}  // namespace

int main() {
    Tally exercises;
    for (const std::string& path : scoresIn(QUORVEL_SOURCE_DIR "/tests/data/fingering")) {
        measure(path, &exercises);
    }
    Tally real;
    for (const char* folder : {"/work/realscores", "/work/realscores/demos"}) {
        for (const std::string& path : scoresIn(folder)) {
            measurePrepared(path, &real);
        }
    }
    report("Fingered exercises", exercises);
    report("Real scores (/work/realscores)", real);
    return 0;
}
