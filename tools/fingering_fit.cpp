// quorvel-fingering-fit: refits the whole-piece planner's cost table from fingered scores.
//
//   quorvel-fingering-fit [--data DIR] [--split FILE] [--out FILE] [--exercises DIR] [--explain]
//                         [--report | --continue | --keep-weights] [--smoothing S]
//                         [--rule-rounds N] [--no-learning] [--set K=V ...]
//                         [--groups piece|composer]
//
// Counts the editors' fingerings of the pieces the split marks "train" (DIR/pieces, default
// data/fingering-train), smooths them into negative log-probabilities (fitted_costs.h), then
// chooses the smoothing, the blend weights and the sizes of the planner's rules by
// cross-validation by piece over the whole training split: the training pieces are dealt into
// six groups, and each group is planned with a table counted without it (its printed fingers
// hidden), so that every one of the Mutopia training pieces' printed fingers judges every choice.
// A rule changes only where the cross-validated figure gains and more groups gain than lose.
// Every choice must keep the method books' fingerings of scales, arpeggios and the five-finger
// position and keep the fingered exercises (--exercises, default tests/data/fingering) close to
// the books. Writes the table (default data/fingering/fitted_costs.inc) with a comment on where
// it came from; --explain says which book fingering a rejected choice breaks; --report only
// prints the cross-validated figures of the compiled-in weights and rules and of the hand-set
// rules (with the range the figure keeps over 95 % of redraws of the Mutopia training pieces, and
// a trial's gain alike), and writes nothing; --continue starts from the compiled-in weights and
// rules (smoothed with S, default 5) instead of the grid of weights, then searches the place weight
// and the rules as a full fit does, so a new table needs no search of what an earlier fit settled.
// The validation pieces are not read. --keep-weights continues as --continue does but keeps the
// tables' weights and learning as compiled in (no grid over them). --rule-rounds sets how many
// rounds the search over the rules' sizes may take (default 3; 0 keeps them as they are). Last,
// the counted tables learn from the planner's mistakes on the training pieces
// (fitted_learning.h): its passes and step, and a weight for the transitions, are chosen by the
// same cross-validation, each group's table learning without the group; each learnt table is then
// corrected on the method-book lines alone until it fingers them as the books do, the outer
// fingers kept on the edges of a handful of notes throughout (--no-learning leaves that step
// out). The second-order costs (fitted_second.h, a line's finger given the fingers of the two
// notes before it) are counted alike; their weight and smoothing are searched by the same
// cross-validation, and the table is written beside the other, as fitted_second.inc in the
// folder of --out (without its numbers when its weight is 0). Last, how strongly each hand's cells
// lean on both hands' counts, how many runs of the learning are averaged (over orders or resamples
// of the pieces) and how far the learnt cells are drawn back towards the counts are searched one at
// a time, judged alike (at their compiled-in values they change nothing). --set K=V (with --report,
// as often as needed) also measures the compiled-in table with weight K (fitted_costs.h's Weight,
// by number) set to V, and says by how many printed fingers each group gains or loses: a trial
// without a refit; with --continue or --keep-weights, the fit starts from the compiled-in weights
// with K set to V instead, and the table's comment says so. --groups composer deals the Mutopia
// training pieces into the groups by composer instead of in turn (a composer's pieces, which
// share an edition and its editor's habits, all in one group): a stricter figure, nearer to what
// a piece of another style will see, for every choice and report alike. Rebuild to compile the
// new tables in. Both tables follow the project's output
// rule: a symbolic link at either is written through to the file it names, and a folder, a device,
// a place that cannot be written or a temporary's name already taken is refused in one line
// before the search begins, not after it.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/state.h"
#include "export/output_file.h"
#include "fingering/fingering_corpus.h"
#include "fingering/fitted_costs.h"
#include "fingering/fitted_learning.h"
#include "fingering/fitted_second.h"
#include "fingering/optimal_planner.h"
#include "fingering/optimal_printed.h"
#include "geometry/key_layout.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

// Whether the checks against the method books say what they find off (--explain).
bool explain = false;

// Groups of training pieces left out in turn: about six Mutopia pieces and eleven exercises each.
constexpr int kFolds = 6;
// Rounds of the search over the rules' sizes, and the least gain (points of cross-validated exact
// match on the Mutopia training pieces) a change must bring: a few notes, not one.
constexpr int kRuleRounds = 3;
constexpr double kLeastGain = 0.1;
// Points of the cross-validated exercises a rule change may cost.
constexpr double kExercisesGive = 0.5;
// The hand's travel across a leap always costs something: where a leap leaves the hand is what
// the rule is for, and the sparse printed fingers rarely show it.
constexpr float kLeastLeapTravel = 0.1f;

struct Piece {
    CorpusPiece piece;
    bool mutopia;
    std::string composer;   // Mutopia's name of the composer, from the file name; empty otherwise
    fitted::Counts counts;  // what this piece alone contributes
    fitted::SecondCounts second;
    size_t notes = 0;
    size_t fingered = 0;
};

void addCounts(const fitted::Counts& from, fitted::Counts* to) {
    for (size_t i = 0; i < from.transition.size(); ++i) {
        to->transition[i] += from.transition[i];
    }
    for (size_t i = 0; i < from.chord.size(); ++i) {
        to->chord[i] += from.chord[i];
    }
    for (size_t i = 0; i < from.start.size(); ++i) {
        to->start[i] += from.start[i];
    }
    for (size_t i = 0; i < from.figure.size(); ++i) {
        to->figure[i] += from.figure[i];
    }
    for (size_t i = 0; i < from.place.size(); ++i) {
        to->place[i] += from.place[i];
    }
}

bool load(const std::string& data, const std::string& splitPath, std::vector<Piece>* train) {
    std::vector<SplitEntry> split;
    std::string error;
    if (!readSplit(splitPath, &split, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    for (const SplitEntry& e : split) {
        if (e.role != "train") {
            continue;  // validation pieces are never read here
        }
        Piece p;
        if (!readCorpusPiece(data + "/pieces/" + e.piece, &p.piece, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        p.mutopia = e.piece.rfind("mutopia-", 0) == 0;
        if (p.mutopia) {
            // mutopia-<composer>-<piece>.tsv: the collection names its composers so.
            const size_t from = std::string("mutopia-").size();
            p.composer = e.piece.substr(from, e.piece.find('-', from) - from);
        }
        const std::vector<PlacedNote> notes = fillGrids(p.piece);
        const std::vector<PrintedFinger> labels = printedFingers(notes);
        countFingerings(labels, &p.counts);
        countSecondOrder(labels, &p.second);
        p.notes = notes.size();
        p.fingered = labels.size();
        train->push_back(std::move(p));
    }
    return true;
}

// Exact matches on one piece with `costs`, its printed fingers hidden from the planner, which is
// told where the measures start as the program and the benchmark tell it.
MatchTally measure(const CorpusPiece& piece, const fitted::Costs& costs) {
    const std::vector<PlacedNote> notes = fillGrids(piece);
    resetPerformance();
    planHandsOptimalWith({}, costs, measureStarts(notes));
    return countMatches(notes);
}

// The cross-validated figures of one choice: each group of Mutopia training pieces, planned with
// the table counted without its group, and the exercises apart (they are completely fingered and
// would flatter the figure the choices are made on).
struct CrossValidated {
    MatchTally group[kFolds];
    MatchTally exercises;
    std::vector<MatchTally> pieces;  // each Mutopia training piece's, in the split's order
    MatchTally mutopia() const {
        MatchTally all;
        for (const MatchTally& t : group) {
            all.add(t);
        }
        return all;
    }
};

// One line of the search's log: what was tried, its cross-validated figures per hand and on the
// exercises, how many groups gained and lost, and whether it was kept.
void printTrial(const std::string& what, const CrossValidated& cv, int gains, int losses,
                bool kept) {
    const MatchTally m = cv.mutopia();
    std::printf(
        "%s: %.1f %% (right %.1f %%, left %.1f %%; exercises %.1f %%; groups %d up, %d down)%s\n",
        what.c_str(), exactShare(m), 100.0 * m.matched[0] / std::max<size_t>(1, m.notes[0]),
        100.0 * m.matched[1] / std::max<size_t>(1, m.notes[1]), exactShare(cv.exercises), gains,
        losses, kept ? ", kept" : "");
    std::fflush(stdout);
}

// A trial's setting as the log names it ("%.2f" and the like, as printf takes it).
template <typename... Args>
std::string trialName(const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// The lines of the method books, hand and keys: major scales over one and two octaves from C, G,
// D and F, the C major arpeggio over two octaves, the chromatic scale over
// an octave and the five-finger position, up and back down, in both hands.
std::vector<std::pair<int, std::vector<int32_t>>> methodBookLines() {
    static const int kSteps[7] = {2, 2, 1, 2, 2, 2, 1};
    auto upAndDown = [](std::vector<int32_t> keys) {
        for (int i = static_cast<int>(keys.size()) - 2; i >= 0; --i) {
            keys.push_back(keys[i]);
        }
        return keys;
    };
    std::vector<std::pair<int, std::vector<int32_t>>> lines;
    for (int32_t tonic : {39, 46, 41, 44}) {  // C4, G4, D4, F4
        for (int octaves = 1; octaves <= 2; ++octaves) {
            std::vector<int32_t> keys{tonic};
            for (int i = 0; i < 7 * octaves; ++i) {
                keys.push_back(keys.back() + kSteps[i % 7]);
            }
            lines.push_back({0, upAndDown(keys)});
            for (int32_t& k : keys) {
                k -= 12 * octaves;
            }
            lines.push_back({1, upAndDown(keys)});
        }
    }
    std::vector<int32_t> arpeggio, chromatic, five;
    for (int32_t k : {39, 43, 46, 51, 55, 58, 63}) {
        arpeggio.push_back(k);
    }
    for (int32_t k = 39; k <= 51; ++k) {
        chromatic.push_back(k);
    }
    for (int32_t k : {39, 41, 43, 44, 46}) {
        five.push_back(k);
    }
    for (const std::vector<int32_t>& line : {arpeggio, chromatic, five}) {
        lines.push_back({0, upAndDown(line)});
        std::vector<int32_t> low = line;
        for (int32_t& k : low) {
            k -= line == arpeggio ? 24 : 12;
        }
        lines.push_back({1, upAndDown(low)});
    }
    return lines;
}

// The fingers of a legato line of quarter notes in one hand, the other resting.
std::vector<int> planLine(int hand, const std::vector<int32_t>& keys, const fitted::Costs* costs) {
    constexpr int32_t kTicks = 2;
    std::vector<NoteEvent> line(keys.size() * kTicks, kEmptyEvent);
    for (size_t i = 0; i < keys.size(); ++i) {
        for (int32_t d = 0; d < kTicks; ++d) {
            line[i * kTicks + d].slot[0] = NoteSlot{keys[i], d + 1 == kTicks ? 1 : 0};
        }
    }
    divisions = kTicks;
    rightNotes = hand == 0 ? line : std::vector<NoteEvent>(line.size(), kEmptyEvent);
    leftNotes = hand == 0 ? std::vector<NoteEvent>(line.size(), kEmptyEvent) : line;
    resetPerformance();
    if (costs != nullptr) {
        planHandsOptimalWith({}, *costs);
    } else {
        planHandsOptimal({}, OptimalCosts::HandSet);
    }
    std::vector<int> fingers;
    const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
    for (size_t i = 0; i < keys.size(); ++i) {
        int finger = -1;
        for (int k = 0; k < kSlotCount; ++k) {
            finger = grid[i * kTicks].slot[k].key == keys[i] ? k : finger;
        }
        fingers.push_back(finger);
    }
    return fingers;
}

// A left-hand scale over two octaves as the books finger it: the one-octave pattern twice,
// the fourth finger on the second degree (5 4 3 2 1 3 2 1 4 3 2 1 3 2 1), up and back down.
bool twoOctaveLeftScale(const std::vector<int>& fingers) {
    static const int kUp[15] = {4, 3, 2, 1, 0, 2, 1, 0, 3, 2, 1, 0, 2, 1, 0};
    if (fingers.size() != 29) {
        return false;
    }
    for (size_t i = 0; i < fingers.size(); ++i) {
        if (fingers[i] != kUp[i < 15 ? i : 28 - i]) {
            return false;
        }
    }
    return true;
}

// A chromatic scale as the books finger it: the thumb on the white keys between two black keys
// and never on a black one, no black key under the little finger, and three black keys in four
// or more under the middle finger (the ends of the line may differ).
bool chromaticScale(const std::vector<int32_t>& keys, const std::vector<int>& fingers) {
    int black = 0, middle = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        const bool between = isBlackKey(keys[i] - 1) && isBlackKey(keys[i] + 1);
        if ((between && fingers[i] != 0) || (isBlackKey(keys[i]) && fingers[i] == 0) ||
            (isBlackKey(keys[i]) && fingers[i] == 4)) {
            return false;
        }
        black += isBlackKey(keys[i]) ? 1 : 0;
        middle += isBlackKey(keys[i]) && fingers[i] == 2 ? 1 : 0;
    }
    return middle * 4 >= black * 3;
}

// The method-book lines on which `costs` finger otherwise than the books: the hand-set rules,
// which give the books' fingerings (the textbook tests hold them to it), on the one-octave
// scales, the arpeggio and the five-finger position; the books' own make on the two-octave
// left-hand scales and the chromatic scale, where the hand-set rules differ from the books.
int linesChanged(const fitted::Costs& costs) {
    int changed = 0;
    for (const auto& [hand, keys] : methodBookLines()) {
        const std::vector<int> fingers = planLine(hand, keys, &costs);
        const bool twoOctaveLeft = hand == 1 && keys.size() == 29;
        const bool chromatic = keys.size() == 25;
        const bool kept = twoOctaveLeft ? twoOctaveLeftScale(fingers)
                          : chromatic   ? chromaticScale(keys, fingers)
                                        : fingers == planLine(hand, keys, nullptr);
        changed += kept ? 0 : 1;
        if (!kept && explain) {
            std::printf("  off the books: %s hand line of %zu keys from %d:",
                        hand == 0 ? "right" : "left", keys.size(), keys.front());
            for (int f : fingers) {
                std::printf(" %d", f + 1);
            }
            std::printf("\n");
        }
    }
    return changed;
}

// The method-book lines as fingered pieces, for the learning to keep in view: learning from the
// editors' fingers alone moved the chromatic scale and the left hand's arpeggio away from the
// books (the checks above then refused every step of it). Each line is fingered as the checks
// want it: as the hand-set rules finger it, the two-octave left-hand scales as the books do, and
// the chromatic scale with the middle finger on every black key, the index on the white key that
// follows another white one in the thumb's direction (F and C in the right hand, E and B in the
// left, mirrored) and the thumb elsewhere.
// How often each line is learned from in a pass: a line is short beside a piece, and one editor's
// habit in many pieces would outweigh it.
constexpr int kBookCopies = 5;
std::vector<CorpusPiece> methodBookPieces() {
    static const int kTwoOctaveLeft[15] = {4, 3, 2, 1, 0, 2, 1, 0, 3, 2, 1, 0, 2, 1, 0};
    std::vector<CorpusPiece> pieces;
    for (const auto& [hand, keys] : methodBookLines()) {
        std::vector<int> fingers = planLine(hand, keys, nullptr);
        const bool twoOctaveLeft = hand == 1 && keys.size() == 29;
        const bool chromatic = keys.size() == 25;
        for (size_t i = 0; i < keys.size(); ++i) {
            const int pitch = (keys[i] + 9) % 12;  // 0 = C
            if (twoOctaveLeft) {
                fingers[i] = kTwoOctaveLeft[i < 15 ? i : 28 - i];
            } else if (chromatic) {
                const bool index =
                    hand == 0 ? pitch == 5 || (pitch == 0 && i != 0 && i + 1 != keys.size())
                              : pitch == 4 || pitch == 11;
                fingers[i] = isBlackKey(keys[i]) ? 2 : index ? 1 : 0;
            }
        }
        CorpusPiece piece;
        piece.name = "method book line";
        for (size_t i = 0; i < keys.size(); ++i) {
            if (fingers[i] < 0) {
                continue;
            }
            const int64_t at = static_cast<int64_t>(i);
            piece.notes.push_back(CorpusNote{at, 1, 1, 1, keys[i], hand, fingers[i] + 1,
                                             static_cast<int>(i / 4) + 1});
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

// A fingered method-book exercise (MusicXML, every note fingered) as the reader loads it.
struct Exercise {
    std::string name;
    std::string xml;
    std::vector<PrintedFinger> printed;
};

std::vector<Exercise> readExercises(const std::string& folder) {
    std::vector<Exercise> exercises;
    std::error_code ec;
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".xml") {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        Exercise e{path, text.str(), {}};
        std::string error;
        if (readPrintedFingers(e.xml, &e.printed, &error) && !e.printed.empty()) {
            exercises.push_back(std::move(e));
        }
    }
    return exercises;
}

size_t exerciseMatches(const Exercise& e, const fitted::Costs* costs) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    // The reader reports on standard output as it loads; the fit's own report stays readable.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int quiet = open("/dev/null", O_WRONLY);
    if (saved >= 0 && quiet >= 0) {
        dup2(quiet, STDOUT_FILENO);
    }
    const int loaded = loadScoreFromBuffer(e.xml.data(), e.xml.size(), nullptr);
    std::fflush(stdout);
    if (saved >= 0 && quiet >= 0) {
        dup2(saved, STDOUT_FILENO);
    }
    if (quiet >= 0) {
        close(quiet);
    }
    if (saved >= 0) {
        close(saved);
    }
    if (loaded != 0) {
        return 0;
    }
    createKeyStates();
    if (costs != nullptr) {
        planHandsOptimalWith({}, *costs);
    } else {
        planHandsOptimal({}, OptimalCosts::HandSet);
    }
    size_t count = 0;
    for (const PrintedFinger& p : e.printed) {
        const std::vector<NoteEvent>& grid = p.hand == 0 ? rightNotes : leftNotes;
        if (p.tick >= 0 && static_cast<size_t>(p.tick) < grid.size() &&
            grid[p.tick].slot[p.finger].key == p.key) {
            ++count;
        }
    }
    return count;
}

// Ways in which `costs` fall short on the fingered exercises: each exercise where they match
// fewer printed fingers than four in five and more than one in twenty fewer than the hand-set
// rules, and all exercises together below 85 % (the hand-set rules, written with these
// exercises at hand, match about 87 %).
int exercisesShort(const std::vector<Exercise>& exercises, const fitted::Costs& costs) {
    int shortfalls = 0;
    size_t matched = 0, notes = 0;
    for (const Exercise& e : exercises) {
        const size_t got = exerciseMatches(e, &costs);
        const size_t handSet = exerciseMatches(e, nullptr);
        const size_t n = e.printed.size();
        const bool falls = got * 5 < n * 4 && (got + n / 20 < handSet);
        shortfalls += falls ? 1 : 0;
        if (falls && explain) {
            std::printf("  off the books: %s, %zu of %zu (hand-set %zu)\n", e.name.c_str(), got, n,
                        handSet);
        }
        matched += got;
        notes += n;
    }
    if (explain && matched * 100 < notes * 85) {
        std::printf("  off the books: the exercises together, %zu of %zu\n", matched, notes);
    }
    return shortfalls + (matched * 100 < notes * 85 ? 1 : 0);
}

// The Mutopia training pieces' groups by composer: composers taken from the most printed fingers
// down, each into the group with the fewest so far, so that the groups stay near in size while no
// composer's pieces are split. Exercises and other pieces keep -1 (the caller deals them).
std::vector<int> composerGroups(const std::vector<Piece>& train) {
    std::vector<std::pair<std::string, size_t>> composers;
    for (const Piece& p : train) {
        if (!p.mutopia) {
            continue;
        }
        auto it = std::find_if(composers.begin(), composers.end(),
                               [&](const auto& c) { return c.first == p.composer; });
        if (it == composers.end()) {
            composers.push_back({p.composer, 0});
            it = composers.end() - 1;
        }
        it->second += p.fingered;
    }
    // Ties by name, so that every run deals the same groups.
    std::sort(composers.begin(), composers.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    std::array<size_t, kFolds> size{};
    std::map<std::string, int> groupOf;
    for (const auto& [name, fingered] : composers) {
        const int g = static_cast<int>(std::min_element(size.begin(), size.end()) - size.begin());
        size[g] += fingered;
        groupOf[name] = g;
    }
    std::vector<int> fold(train.size(), -1);
    for (size_t i = 0; i < train.size(); ++i) {
        if (train[i].mutopia) {
            fold[i] = groupOf.at(train[i].composer);
        }
    }
    return fold;
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", std::gmtime(&now));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string data = "data/fingering-train";
    std::string splitPath;
    std::string out = "data/fingering/fitted_costs.inc";
    std::string exerciseFolder = "tests/data/fingering";
    // --report: the figures of the compiled-in table, smoothed as it was fitted.
    bool report = false;
    bool continued = false;
    // --keep-weights: continue without searching the tables' weights and learning again.
    bool keepWeights = false;
    // --no-learning: the learning grid is not tried; the weights keep the passes they continue
    // from.
    bool learn = true;
    double reportSmoothing = 5.0;
    int ruleRounds = kRuleRounds;
    std::vector<std::pair<int, float>> trials;
    // --groups composer: the cross-validation's groups by composer, not dealt in turn.
    bool byComposer = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--data" || a == "--split" || a == "--out" || a == "--exercises") &&
            i + 1 < argc) {
            (a == "--data"    ? data
             : a == "--split" ? splitPath
             : a == "--out"   ? out
                              : exerciseFolder) = argv[++i];
        } else if (a == "--explain") {
            explain = true;
        } else if (a == "--report") {
            report = true;
        } else if (a == "--continue") {
            continued = true;
        } else if (a == "--keep-weights") {
            keepWeights = continued = true;
        } else if (a == "--no-learning") {
            learn = false;
        } else if (a == "--rule-rounds" && i + 1 < argc) {
            ruleRounds = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--set" && i + 1 < argc) {
            // --set K=V: weight K set to V, measured beside the compiled-in ones (--report) or
            // started from (--continue, --keep-weights).
            const std::string kv = argv[++i];
            const size_t eq = kv.find('=');
            const int k = eq == std::string::npos ? -1 : std::atoi(kv.substr(0, eq).c_str());
            if (k < 0 || k >= fitted::kWeightCount) {
                std::fprintf(stderr, "--set takes K=V with a weight K from 0 to %d\n",
                             fitted::kWeightCount - 1);
                return 2;
            }
            trials.push_back({k, static_cast<float>(std::atof(kv.substr(eq + 1).c_str()))});
        } else if (a == "--groups" && i + 1 < argc &&
                   (std::string(argv[i + 1]) == "piece" ||
                    std::string(argv[i + 1]) == "composer")) {
            byComposer = std::string(argv[++i]) == "composer";
        } else if (a == "--smoothing" && i + 1 < argc) {
            reportSmoothing = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: quorvel-fingering-fit [--data DIR] [--split FILE] [--out FILE] "
                         "[--exercises DIR] [--explain] [--report | --continue | --keep-weights] "
                         "[--smoothing S] [--rule-rounds N] [--no-learning] [--set K=V] "
                         "[--groups piece|composer]\n");
            return 2;
        }
    }
    if (!trials.empty() && !report && !continued) {
        // A full fit searches the weights from its grid: a start it would not use is an error.
        std::fprintf(stderr, "--set needs --report, --continue or --keep-weights\n");
        return 2;
    }
    if (splitPath.empty()) {
        splitPath = data + "/split.tsv";
    }
    // Both tables are written at the end, after the search, by the project's output rule (a
    // symbolic link written through, a folder or a device refused): where they cannot be, say so
    // now. The second goes beside the name given for the first.
    std::string secondOut =
        (std::filesystem::path(out).parent_path() / "fitted_second.inc").string();
    // What the fit reads may not be what it writes: the split, the pieces and the exercises.
    std::vector<std::string> inputs = {splitPath};
    for (const std::string& folder : {data + "/pieces", exerciseFolder}) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            inputs.push_back(entry.path().string());
        }
    }
    OutputTarget outTarget;
    OutputTarget secondTarget;
    for (auto [name, target] :
         {std::pair{&out, &outTarget}, std::pair{&secondOut, &secondTarget}}) {
        if (report) {
            break;  // a report writes nothing
        }
        std::string error;
        if (!checkOutput(*name, inputs, target, &error) || !canWriteOutput(*target, &error)) {
            std::fprintf(stderr, "cannot write %s: %s\n", name->c_str(), error.c_str());
            return 1;
        }
    }
    setStartValues();
    createKeyStates();
    std::vector<Piece> train;
    if (!load(data, splitPath, &train)) {
        return 1;
    }
    const std::vector<Exercise> exercises = readExercises(exerciseFolder);
    // Groups of the training pieces, dealt in turn among the Mutopia pieces and among the
    // exercises: group f's table is counted without group f.
    fitted::Counts all;
    std::vector<fitted::Counts> withoutFold(kFolds);
    // The second-order counts alike, and the table they make (weight 0 leaves it out).
    fitted::SecondCounts secondAll;
    std::vector<fitted::SecondCounts> secondWithout(kFolds);
    const fitted::SecondOrder& compiledSecond = fitted::embeddedSecondOrder();
    float secondWeight = continued || report ? compiledSecond.weight : 0.0f;
    double secondSmoothing = compiledSecond.smoothing > 0.0f ? compiledSecond.smoothing : 5.0;
    // Too big for the stack: the tables of the group being planned and of all the pieces.
    auto secondTable = std::make_unique<fitted::SecondOrder>();
    std::vector<int> fold = byComposer ? composerGroups(train) : std::vector<int>(train.size(), -1);
    size_t notes = 0, fingered = 0, mutopia = 0, exercisePieces = 0, mutopiaFingered = 0;
    for (size_t i = 0; i < train.size(); ++i) {
        if (train[i].mutopia) {
            if (!byComposer) {
                fold[i] = static_cast<int>(mutopia % kFolds);
            }
            ++mutopia;
            mutopiaFingered += train[i].fingered;
        } else {
            fold[i] = static_cast<int>(exercisePieces++ % kFolds);
        }
        addCounts(train[i].counts, &all);
        secondAll.add(train[i].second);
        for (int f = 0; f < kFolds; ++f) {
            if (fold[i] != f) {
                addCounts(train[i].counts, &withoutFold[f]);
                secondWithout[f].add(train[i].second);
            }
        }
        notes += train[i].notes;
        fingered += train[i].fingered;
    }
    // The pieces each group's table learns from (every training piece outside the group), and
    // all of them for the table written.
    std::vector<std::vector<const CorpusPiece*>> learnWithout(kFolds);
    std::vector<const CorpusPiece*> learnAll;
    const std::vector<CorpusPiece> books = methodBookPieces();
    // The lines the learnt table is corrected on until it fingers them as the books do.
    std::vector<const CorpusPiece*> keepBooks;
    for (const CorpusPiece& book : books) {
        keepBooks.push_back(&book);
    }
    for (int copy = 0; copy < kBookCopies; ++copy) {
        for (const CorpusPiece& book : books) {
            learnAll.push_back(&book);
            for (int f = 0; f < kFolds; ++f) {
                learnWithout[f].push_back(&book);
            }
        }
    }
    for (size_t i = 0; i < train.size(); ++i) {
        learnAll.push_back(&train[i].piece);
        for (int f = 0; f < kFolds; ++f) {
            if (fold[i] != f) {
                learnWithout[f].push_back(&train[i].piece);
            }
        }
    }
    std::printf("counted %zu training pieces (%zu Mutopia): %zu notes, %zu fingered\n",
                train.size(), mutopia, notes, fingered);
    if (byComposer) {
        // Which composers each group holds, so that a group's gain or loss can be read.
        std::printf("groups by composer:");
        for (int f = 0; f < kFolds; ++f) {
            std::string names;
            for (size_t i = 0; i < train.size(); ++i) {
                const std::string& c = train[i].composer;
                if (fold[i] == f && train[i].mutopia &&
                    names.find(" " + c + " ") == std::string::npos) {
                    names += " " + c + " ";
                }
            }
            std::printf(" %d:%s;", f, names.c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    CrossValidated handSet;
    for (size_t i = 0; i < train.size(); ++i) {
        const std::vector<PlacedNote> placed = fillGrids(train[i].piece);
        resetPerformance();
        planHandsOptimal({}, OptimalCosts::HandSet, measureStarts(placed));
        (train[i].mutopia ? handSet.group[fold[i]] : handSet.exercises).add(countMatches(placed));
    }
    auto print = [](const char* what, const CrossValidated& cv) {
        const MatchTally m = cv.mutopia();
        auto pc = [](size_t a, size_t n) { return n == 0 ? 0.0 : 100.0 * a / n; };
        std::printf(
            "%s: Mutopia right %.1f %% left %.1f %% overall %.1f %% (%zu); exercises "
            "%.1f %% (%zu)\n",
            what, pc(m.matched[0], m.notes[0]), pc(m.matched[1], m.notes[1]), exactShare(m),
            m.notes[0] + m.notes[1], exactShare(cv.exercises),
            cv.exercises.notes[0] + cv.exercises.notes[1]);
        std::fflush(stdout);
    };
    print("hand-set rules", handSet);
    // How many groups of pieces a choice gains in, and loses in, against another.
    auto groupsMoved = [](const CrossValidated& now, const CrossValidated& was, int* gains,
                          int* losses) {
        *gains = *losses = 0;
        for (int f = 0; f < kFolds; ++f) {
            const size_t a = now.group[f].matched[0] + now.group[f].matched[1];
            const size_t b = was.group[f].matched[0] + was.group[f].matched[1];
            *gains += a > b ? 1 : 0;
            *losses += a < b ? 1 : 0;
        }
    };
    auto printGroups = [&](const CrossValidated& now, const CrossValidated& was) {
        int gains = 0, losses = 0;
        groupsMoved(now, was, &gains, &losses);
        std::printf("groups %d up, %d down:", gains, losses);
        for (int f = 0; f < kFolds; ++f) {
            std::printf(" %+d",
                        static_cast<int>(now.group[f].matched[0] + now.group[f].matched[1]) -
                            static_cast<int>(was.group[f].matched[0] + was.group[f].matched[1]));
        }
        std::printf("\n");
        std::fflush(stdout);
    };

    // Every training piece planned with the table counted without its group.
    auto crossValidate = [&](double smoothing,
                             const std::array<float, fitted::kWeightCount>& weights,
                             const fitted::Rules& rules) {
        CrossValidated cv;
        std::vector<MatchTally> byPiece(train.size());
        for (int f = 0; f < kFolds; ++f) {
            *secondTable = fitted::fitSecondOrder(secondWithout[f], secondSmoothing, secondWeight);
            fitted::useSecondOrder(secondTable.get());
            const fitted::Costs costs =
                fitted::learnCosts(fitted::fitCosts(withoutFold[f], smoothing, weights, rules),
                                   learnWithout[f], keepBooks);
            for (size_t i = 0; i < train.size(); ++i) {
                if (fold[i] == f) {
                    byPiece[i] = measure(train[i].piece, costs);
                    (train[i].mutopia ? cv.group[f] : cv.exercises).add(byPiece[i]);
                }
            }
        }
        fitted::useSecondOrder(nullptr);
        for (size_t i = 0; i < train.size(); ++i) {
            if (train[i].mutopia) {
                cv.pieces.push_back(byPiece[i]);
            }
        }
        return cv;
    };
    if (report) {
        const fitted::Costs& compiled = fitted::embeddedCosts();
        const CrossValidated was = crossValidate(reportSmoothing, compiled.weight, compiled.rule);
        print("compiled-in weights and rules, cross-validated", was);
        const FigureRange range = redrawnRange(was.pieces);
        std::printf("95 %% of %d redraws of the Mutopia training pieces: %.1f to %.1f %%\n",
                    kRedraws, range.low, range.high);
        std::fflush(stdout);
        if (!trials.empty()) {
            std::array<float, fitted::kWeightCount> weights = compiled.weight;
            for (const auto& [k, v] : trials) {
                weights[k] = v;
            }
            const CrossValidated cv = crossValidate(reportSmoothing, weights, compiled.rule);
            print("with the weights set, cross-validated", cv);
            printGroups(cv, was);
            const FigureRange gain = redrawnRange(cv.pieces, was.pieces);
            std::printf("its gain over 95 %% of the redraws: %+.1f to %+.1f points\n", gain.low,
                        gain.high);
            std::fflush(stdout);
        }
        return 0;
    }
    auto offBooks = [&](double smoothing, const std::array<float, fitted::kWeightCount>& weights,
                        const fitted::Rules& rules) {
        *secondTable = fitted::fitSecondOrder(secondAll, secondSmoothing, secondWeight);
        fitted::useSecondOrder(secondTable.get());
        const fitted::Costs whole = fitted::learnCosts(
            fitted::fitCosts(all, smoothing, weights, rules), learnAll, keepBooks);
        const int off = linesChanged(whole) + exercisesShort(exercises, whole);
        fitted::useSecondOrder(nullptr);
        return off;
    };

    // A small grid of smoothing and blend weights. The hand-set rules keep their full weight
    // (they hold what few pieces show: the spans a hand can take, the thumb passing under); the
    // fitted costs are added on top.
    constexpr float kBlend = 1.0f;
    constexpr float kConsistency = 3.0f;
    double bestShare = -1.0;
    CrossValidated best;
    double bestSmoothing = 0.0;
    std::array<float, fitted::kWeightCount> bestWeights{};
    fitted::Rules bestRules = fitted::handSetRules();
    bestRules[fitted::kRuleLeapTravel] = kLeastLeapTravel;
    auto searchWeights = [&]() {
        const double smoothings[] = {5.0, 12.0};
        const float transitionWeights[] = {0.0f, 0.03f, 0.06f};
        const float chordWeights[] = {0.15f, 0.3f};
        const float startWeights[] = {0.0f, 0.1f};
        const float figureWeights[] = {0.0f, 0.05f, 0.1f, 0.15f, 0.2f};
        bestShare = -1.0;
        for (double smoothing : smoothings) {
            for (float transition : transitionWeights) {
                for (float chord : chordWeights) {
                    for (float start : startWeights) {
                        for (float figure : figureWeights) {
                            const std::array<float, fitted::kWeightCount> weights = {
                                transition, chord, start, kBlend, kConsistency, figure, 0.0f};
                            const CrossValidated cv = crossValidate(smoothing, weights, bestRules);
                            const double s = exactShare(cv.mutopia());
                            if (s <= bestShare) {
                                continue;
                            }
                            const int off = offBooks(smoothing, weights, bestRules);
                            std::printf(
                                "smoothing %4.1f transition %.2f chord %.2f line ends "
                                "%.2f figure %.2f: %.1f %%, off the books %d\n",
                                smoothing, transition, chord, start, figure, s, off);
                            std::fflush(stdout);
                            if (off == 0) {
                                best = cv;
                                bestShare = s;
                                bestSmoothing = smoothing;
                                bestWeights = weights;
                            }
                        }
                    }
                }
            }
        }
    };
    if (continued) {
        const fitted::Costs& compiled = fitted::embeddedCosts();
        bestSmoothing = reportSmoothing;
        bestWeights = compiled.weight;
        for (const auto& [k, v] : trials) {
            bestWeights[k] = v;  // --set: the start moved, as the table's comment will say
        }
        bestRules = compiled.rule;
        best = crossValidate(bestSmoothing, bestWeights, bestRules);
        bestShare = exactShare(best.mutopia());
        if (offBooks(bestSmoothing, bestWeights, bestRules) != 0) {
            std::fprintf(stderr, "the compiled-in table breaks the method books' fingerings\n");
            return 1;
        }
    } else {
        searchWeights();
    }
    if (bestShare < 0.0) {
        std::fprintf(stderr, "no weights keep the method books' fingerings; table not written\n");
        return 1;
    }
    print(continued ? "compiled-in weights, cross-validated" : "weights chosen, cross-validated",
          best);
    // Whether a choice is better than the best so far: the cross-validated figure gains at least
    // kLeastGain, more groups of pieces gain than lose (a gain that only a group or two show is
    // one editor's habit), the exercises lose no more than kExercisesGive and the books'
    // fingerings stay.
    auto better = [&](const CrossValidated& cv,
                      const std::array<float, fitted::kWeightCount>& weights,
                      const fitted::Rules& rules, int* gains, int* losses) {
        groupsMoved(cv, best, gains, losses);
        return exactShare(cv.mutopia()) >= bestShare + kLeastGain &&
               exactShare(cv.exercises) >= exactShare(best.exercises) - kExercisesGive &&
               *gains > *losses && offBooks(bestSmoothing, weights, rules) == 0;
    };
    // One trial of the searches below: judged against the best so far, logged, and taken as the
    // best when it is better (the caller keeps the settings it tried). True when kept.
    auto judge = [&](const std::string& what, const CrossValidated& cv,
                     const std::array<float, fitted::kWeightCount>& weights,
                     const fitted::Rules& rules) {
        int gains = 0, losses = 0;
        const bool kept = better(cv, weights, rules, &gains, &losses);
        printTrial(what, cv, gains, losses, kept);
        if (kept) {
            bestShare = exactShare(cv.mutopia());
            best = cv;
        }
        return kept;
    };
    // The place of a note among the keys around it, added on top of what the weights above
    // chose: its weight is searched on its own (the grid would grow sevenfold).
    for (float weight : {0.05f, 0.1f, 0.2f, 0.3f, 0.5f, 0.8f, 1.2f}) {
        if (keepWeights) {
            break;
        }
        std::array<float, fitted::kWeightCount> weights = bestWeights;
        weights[fitted::kPlaceWeight] = weight;
        const CrossValidated cv = crossValidate(bestSmoothing, weights, bestRules);
        if (judge(trialName("place %.2f", weight), cv, weights, bestRules)) {
            bestWeights = weights;
        }
    }
    // The second-order costs (a line's note given the fingers of the two before it), added on top
    // of the tables above: their weight and smoothing, searched on their own.
    auto searchSecond = [&](std::initializer_list<float> trialWeights,
                            std::initializer_list<double> trialSmoothings) {
        for (double smoothing : trialSmoothings) {
            for (float weight : trialWeights) {
                if (weight == secondWeight && smoothing == secondSmoothing) {
                    continue;
                }
                const float keptWeight = secondWeight;
                const double keptSmoothing = secondSmoothing;
                secondWeight = weight;
                secondSmoothing = smoothing;
                const CrossValidated cv = crossValidate(bestSmoothing, bestWeights, bestRules);
                if (!judge(trialName("second order %.2f, smoothing %.1f", weight, smoothing), cv,
                           bestWeights, bestRules)) {
                    secondWeight = keptWeight;
                    secondSmoothing = keptSmoothing;
                }
            }
        }
    };
    searchSecond({0.05f, 0.1f, 0.2f, 0.3f, 0.5f, 0.8f}, {secondSmoothing});
    if (secondWeight > 0.0f) {
        searchSecond({secondWeight}, {2.0, 5.0, 10.0, 20.0});
    }
    // The rules' sizes and then the tables' weights, one at a time, while the cross-validated
    // figure gains, more groups of pieces gain than lose (a gain that only a group or two show
    // is one editor's habit), the exercises lose no more than kExercisesGive and the books'
    // fingerings stay: a few rounds of a coordinate search from the hand-set values. The chords
    // the books finger one way keep their rule (the checks here do not play chords).
    for (int round = 0; round < ruleRounds; ++round) {
        bool moved = false;
        for (int k = 0; k < fitted::kRuleCount; ++k) {
            if (k == fitted::kRuleBookChord) {
                continue;
            }
            const float v = bestRules[k];
            for (float trial : {v * 0.5f, v * 0.75f, v * 1.33f, v * 2.0f, v + 0.25f, v - 0.25f}) {
                const float least = k == fitted::kRuleLeapTravel ? kLeastLeapTravel : 0.0f;
                if (trial < least || trial == v) {
                    continue;
                }
                fitted::Rules rules = bestRules;
                rules[k] = trial;
                const CrossValidated cv = crossValidate(bestSmoothing, bestWeights, rules);
                if (judge(trialName("rule %d %.2f -> %.2f", k, bestRules[k], trial), cv,
                          bestWeights, rules)) {
                    bestRules = rules;
                    moved = true;
                }
            }
        }
        // The tables' weights alike, now that the rules and the other weights have moved: the
        // grid above chose them for the hand-set rules.
        for (int k : {fitted::kTransitionWeight, fitted::kChordWeight, fitted::kStartWeight,
                      fitted::kFigureWeight, fitted::kPlaceWeight}) {
            const float v = bestWeights[k];
            for (float trial : {v * 0.5f, v * 0.75f, v * 1.33f, v * 2.0f, v + 0.05f, v - 0.05f}) {
                if (trial < 0.0f || trial == v) {
                    continue;
                }
                std::array<float, fitted::kWeightCount> weights = bestWeights;
                weights[k] = trial;
                const CrossValidated cv = crossValidate(bestSmoothing, weights, bestRules);
                if (judge(trialName("weight %d %.2f -> %.2f", k, bestWeights[k], trial), cv,
                          weights, bestRules)) {
                    bestWeights = weights;
                    moved = true;
                }
            }
        }
        if (secondWeight > 0.0f) {
            const double before = bestShare;
            const float v = secondWeight;
            searchSecond({v * 0.5f, v * 0.75f, v * 1.33f, v * 2.0f}, {secondSmoothing});
            moved = moved || bestShare != before;
        }
        if (!moved) {
            break;
        }
    }
    // Learning from the planner's mistakes (fitted_learning.h) on top of the counted tables and
    // the rules chosen above: a small grid of passes and steps, each judged like every other
    // choice by the pieces left out of the learning. The transitions, which the counts alone did
    // not earn a weight, are tried again with it: learning corrects the cells a weight makes
    // too loud.
    const float transitionNow = bestWeights[fitted::kTransitionWeight];
    for (float transition : {transitionNow, 0.05f, 0.1f}) {
        if (keepWeights || !learn) {
            break;
        }
        for (int passes : {3, 5}) {
            for (float step : {0.01f, 0.02f}) {
                std::array<float, fitted::kWeightCount> weights = bestWeights;
                weights[fitted::kTransitionWeight] = transition;
                weights[fitted::kLearningPasses] = static_cast<float>(passes);
                weights[fitted::kLearningStep] = step;
                if (weights == bestWeights) {
                    continue;
                }
                const CrossValidated cv = crossValidate(bestSmoothing, weights, bestRules);
                if (judge(trialName("transition %.2f, learning %d passes of step %.2f", transition,
                                    passes, step),
                          cv, weights, bestRules)) {
                    bestWeights = weights;
                }
            }
        }
    }
    // What the tables lean on where their own counts are few, and how much the learning's table
    // depends on the pieces it saw: each hand's cells pooled with both hands' counts, the
    // learning averaged over several orders of the pieces (or resamples of them) and drawn back
    // towards the counts, one weight at a time and judged like every other choice. At their
    // compiled-in values they leave the table as it was.
    struct Trial {
        int weight;
        std::vector<float> values;
        bool learning;  // only tried where the tables learn
    };
    const Trial generalising[] = {
        {fitted::kPoolingLeft, {10.0f, 20.0f, 35.0f, 50.0f, 100.0f}, false},
        {fitted::kPoolingRight, {2.0f, 10.0f, 20.0f, 50.0f}, false},
        {fitted::kLearningBags, {3.0f, 6.0f}, true},
        {fitted::kLearningResample, {1.0f}, true},
        {fitted::kLearningPull, {0.2f, 0.4f}, true},
    };
    for (const Trial& trial : generalising) {
        const bool learns = bestWeights[fitted::kLearningPasses] > 0.0f;
        if (keepWeights || (trial.learning && (!learn || !learns))) {
            continue;
        }
        if (trial.weight == fitted::kLearningResample &&
            bestWeights[fitted::kLearningBags] < 1.5f) {
            continue;  // a resample per run needs several runs
        }
        // Every value tried from the same start, the best kept.
        const std::array<float, fitted::kWeightCount> start = bestWeights;
        for (float value : trial.values) {
            std::array<float, fitted::kWeightCount> weights = start;
            weights[trial.weight] = value;
            if (weights == start) {
                continue;
            }
            const CrossValidated cv = crossValidate(bestSmoothing, weights, bestRules);
            if (judge(trialName("weight %d at %.2f", trial.weight, value), cv, weights,
                      bestRules)) {
                bestWeights = weights;
            }
        }
    }
    print("chosen, cross-validated", best);
    const fitted::SecondOrder& secondChosen = *secondTable =
        fitted::fitSecondOrder(secondAll, secondSmoothing, secondWeight);
    fitted::useSecondOrder(&secondChosen);
    const fitted::Costs chosen = fitted::learnCosts(
        fitted::fitCosts(all, bestSmoothing, bestWeights, bestRules), learnAll, keepBooks);
    fitted::useSecondOrder(nullptr);
    char line[256];
    std::vector<std::string> header = {
        "Fitted costs of the whole-piece planner (see src/fingering/fitted_costs.h).",
        "Written by quorvel-fingering-fit on " + today() + "; refit with tools/refit-fingering.sh",
    };
    std::snprintf(line, sizeof line,
                  "Counted on the %zu pieces marked train in %s (%zu notes, %zu fingered),",
                  train.size(), splitPath.c_str(), notes, fingered);
    header.push_back(line);
    header.push_back("from " + data + "/pieces (sources and licences in its SOURCES.tsv).");
    const MatchTally m = best.mutopia();
    std::snprintf(line, sizeof line,
                  "Smoothing %.1f, weights and rule sizes chosen by cross-validation by %s in %d "
                  "groups over the %zu Mutopia training pieces",
                  bestSmoothing, byComposer ? "composer" : "piece", kFolds, mutopia);
    header.push_back(line);
    for (const auto& [k, v] : trials) {
        std::snprintf(line, sizeof line, "(weight %d set to %.4g to start from, --set %d=%.4g)", k,
                      v, k, v);
        header.push_back(line);
    }
    if (keepWeights) {
        header.push_back(
            "(the weights and learning of the table before kept, not searched again, "
            "--keep-weights)");
    } else if (continued) {
        header.push_back(
            "(the search continued from the weights and rules of the table before, --continue)");
    }
    if (bestWeights[fitted::kLearningPasses] > 0.0f) {
        std::snprintf(line, sizeof line,
                      "The counted tables then learned from the planner's mistakes on the training "
                      "pieces (%.0f passes of step %.4g, fitted_learning.h), in the groups too,",
                      bestWeights[fitted::kLearningPasses], bestWeights[fitted::kLearningStep]);
        header.push_back(line);
        header.push_back(
            "each then corrected on the method-book lines alone until it fingers them as the "
            "books,");
        header.push_back(
            "the outer finger kept the cheapest on the edges of a handful of notes throughout");
    }
    if (bestWeights[fitted::kPoolingRight] > 0.0f || bestWeights[fitted::kPoolingLeft] > 0.0f) {
        auto prior = [&](int k) {
            return bestWeights[k] > 0.0f ? bestWeights[k] : static_cast<float>(bestSmoothing);
        };
        std::snprintf(
            line, sizeof line,
            "each hand's cells pooled with both hands' counts (the left hand mirrored) by "
            "a prior count of %.4g in the right hand and %.4g in the left,",
            prior(fitted::kPoolingRight), prior(fitted::kPoolingLeft));
        header.push_back(line);
    }
    if (bestWeights[fitted::kLearningPasses] > 0.0f &&
        (bestWeights[fitted::kLearningBags] > 1.5f || bestWeights[fitted::kLearningPull] > 0.0f)) {
        std::snprintf(line, sizeof line,
                      "the learning averaged over %.0f runs (%s), drawn back towards the counts "
                      "by %.4g,",
                      std::max(1.0f, bestWeights[fitted::kLearningBags]),
                      bestWeights[fitted::kLearningResample] > 0.5f ? "each on a resample"
                                                                    : "each in orders of its own",
                      bestWeights[fitted::kLearningPull]);
        header.push_back(line);
    }
    std::snprintf(line, sizeof line,
                  "(%zu fingered notes, each group planned with a table counted without it): "
                  "%.1f %% exact (hand-set rules %.1f %%);",
                  mutopiaFingered, exactShare(m), exactShare(handSet.mutopia()));
    header.push_back(line);
    std::snprintf(line, sizeof line,
                  "the %zu training exercises, cross-validated alike: %.1f %% (hand-set %.1f %%).",
                  exercisePieces, exactShare(best.exercises), exactShare(handSet.exercises));
    header.push_back(line);
    header.push_back("Validation pieces were not read. Costs are -ln P, in nats.");
    std::string error;
    if (!writeOutput(outTarget, fitted::costsText(header, chosen), &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", out.c_str(), error.c_str());
        return 1;
    }
    // The second-order table beside it, with the same provenance.
    std::vector<std::string> secondHeader = {
        "Second-order costs of the whole-piece planner (see src/fingering/fitted_second.h): the",
        "finger of a line's note given the fingers of the two notes before it, -ln P in nats.",
        "Written with fitted_costs.inc beside it, by the same refit; its provenance:",
    };
    secondHeader.insert(secondHeader.end(), header.begin() + 1, header.end());
    std::snprintf(line, sizeof line,
                  "Weight %.2f and smoothing %.1f chosen by the same cross-validation (0 leaves "
                  "the table out).",
                  secondWeight, secondSmoothing);
    secondHeader.push_back(line);
    if (!writeOutput(secondTarget, fitted::secondOrderText(secondHeader, secondChosen), &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", secondOut.c_str(), error.c_str());
        return 1;
    }
    std::printf(
        "chose smoothing %.1f, weights %.2f %.2f %.2f %.2f %.2f %.2f %.2f, learning %.0f passes of "
        "step %.2f, second order %.2f (%.1f %%); wrote %s and %s\n",
        bestSmoothing, chosen.weight[0], chosen.weight[1], chosen.weight[2], chosen.weight[3],
        chosen.weight[4], chosen.weight[5], chosen.weight[6],
        chosen.weight[fitted::kLearningPasses], chosen.weight[fitted::kLearningStep], secondWeight,
        bestShare, out.c_str(), secondOut.c_str());
    std::printf("rules written:");
    for (float r : chosen.rule) {
        std::printf(" %.3f", r);
    }
    std::printf("\n");
    return 0;
}
