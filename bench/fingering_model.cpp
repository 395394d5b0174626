// Exact match with the editors' printed fingers on the fingered scores of data/fingering-train,
// by the role the split gives each piece: the validation pieces (never counted, never used to
// choose a weight) are the figure that counts; the tuning pieces and the training pieces are
// shown for comparison. Mutopia pieces and Beringer & Dunhill exercises are reported apart.
// Printed fingers are hidden from the planners. Both cost models of the whole-piece planner are
// measured on the same pieces: the fitted table and the hand-set rules.
//
//   bench_fingering_model [--costs fitted|handset|both] [--pieces] [--no-measures] [--data DIR]
//
// --pieces prints every validation piece's figures as well. The planners are told where each
// piece's measures start (so that repeated measures are fingered alike), unless --no-measures.
// Under each set's figures, the range its fitted figure (and its gain over the hand-set rules)
// keeps over 95 % of resamples of the set's pieces: how much of a difference a dozen pieces can
// tell apart.

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/fingering_corpus.h"
#include "fingering/optimal_planner.h"
#include "score/score_model.h"

namespace {

struct Group {
    size_t pieces = 0;
    size_t notes = 0;
    // Each piece's own tallies: added up for the set's figures, redrawn for their range.
    std::vector<MatchTally> fittedPieces;
    std::vector<MatchTally> handSetPieces;
};

// Whether the planner is told where the pieces' measures start (--no-measures: it is not).
bool withMeasures = true;

MatchTally planAndCount(const CorpusPiece& piece, OptimalCosts costs) {
    const std::vector<PlacedNote> notes = fillGrids(piece);
    resetPerformance();
    planHandsOptimal({}, costs, withMeasures ? measureStarts(notes) : std::vector<int32_t>{});
    return countMatches(notes);
}

std::string percent(size_t matched, size_t notes) {
    char text[32];
    std::snprintf(text, sizeof text, notes == 0 ? "    -" : "%5.1f", 100.0 * matched / notes);
    return text;
}

void printTally(const char* model, const MatchTally& t) {
    std::printf("    %-8s right %s %% (%zu)  left %s %% (%zu)  overall %s %% (%zu)\n", model,
                percent(t.matched[0], t.notes[0]).c_str(), t.notes[0],
                percent(t.matched[1], t.notes[1]).c_str(), t.notes[1],
                percent(t.matched[0] + t.matched[1], t.notes[0] + t.notes[1]).c_str(),
                t.notes[0] + t.notes[1]);
}

// Under a set's figures: the range its fitted figure, and its gain over the hand-set rules, keeps
// over 95 % of redraws of the set's pieces.
void printRange(const Group& g, bool both) {
    if (g.fittedPieces.size() < 2) {
        return;
    }
    const FigureRange figure = redrawnRange(g.fittedPieces);
    std::printf("    95 %% of %d redraws of the pieces: fitted %.1f to %.1f %%", kRedraws,
                figure.low, figure.high);
    if (both) {
        const FigureRange gain = redrawnRange(g.fittedPieces, g.handSetPieces);
        std::printf(", its gain over the hand-set rules %+.1f to %+.1f points", gain.low,
                    gain.high);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string data = QUORVEL_SOURCE_DIR "/data/fingering-train";
    bool fitted = true, handSet = true, perPiece = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--costs" && i + 1 < argc) {
            const std::string c = argv[++i];
            fitted = c == "fitted" || c == "both";
            handSet = c == "handset" || c == "both";
            if (!fitted && !handSet) {
                std::fprintf(stderr, "--costs takes fitted, handset or both\n");
                return 2;
            }
        } else if (a == "--pieces") {
            perPiece = true;
        } else if (a == "--no-measures") {
            withMeasures = false;
        } else if (a == "--data" && i + 1 < argc) {
            data = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: bench_fingering_model [--costs fitted|handset|both] [--pieces] "
                         "[--no-measures] [--data DIR]\n");
            return 2;
        }
    }
    std::vector<SplitEntry> split;
    std::string error;
    if (!readSplit(data + "/split.tsv", &split, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    setStartValues();
    createKeyStates();
    std::map<std::string, Group> groups;
    for (const SplitEntry& e : split) {
        CorpusPiece piece;
        if (!readCorpusPiece(data + "/pieces/" + e.piece, &piece, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const std::string source = e.piece.rfind("mutopia-", 0) == 0 ? "Mutopia" : "Beringer";
        Group& g = groups[e.role + " / " + source];
        ++g.pieces;
        g.notes += piece.notes.size();
        MatchTally f, h;
        if (fitted) {
            f = planAndCount(piece, OptimalCosts::Fitted);
            g.fittedPieces.push_back(f);
        }
        if (handSet) {
            h = planAndCount(piece, OptimalCosts::HandSet);
            g.handSetPieces.push_back(h);
        }
        if (perPiece && e.role == "validation") {
            const MatchTally& t = fitted ? f : h;
            std::printf("%-56s %4zu fingered  fitted %s %%  hand-set %s %%\n", e.piece.c_str(),
                        t.notes[0] + t.notes[1],
                        percent(f.matched[0] + f.matched[1], f.notes[0] + f.notes[1]).c_str(),
                        percent(h.matched[0] + h.matched[1], h.notes[0] + h.notes[1]).c_str());
            std::fflush(stdout);
        }
    }
    for (const char* role : {"validation", "tune", "train"}) {
        for (const char* source : {"Mutopia", "Beringer"}) {
            const auto it = groups.find(std::string(role) + " / " + source);
            if (it == groups.end()) {
                continue;
            }
            const Group& g = it->second;
            std::printf("%s pieces, %s: %zu pieces, %zu notes\n", role, source, g.pieces, g.notes);
            if (fitted) {
                printTally("fitted", sumTallies(g.fittedPieces));
            }
            if (handSet) {
                printTally("hand-set", sumTallies(g.handSetPieces));
            }
            if (fitted) {
                printRange(g, handSet);
            }
            std::fflush(stdout);
        }
    }
    return 0;
}
