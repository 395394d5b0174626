// quorvel-fingering-fit --report as a user runs it on the repository's fingered scores: the
// cross-validation judges every printed finger of the training pieces exactly once, never opens a
// validation piece, and the compiled-in table does not fall behind the hand-set rules there.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fingering/fingering_corpus.h"
#include "support/program_run.h"

namespace {

const std::string kFitExe = std::string(QUORVEL_BIN_DIR) + "/quorvel-fingering-fit";
const std::string kTrain = std::string(QUORVEL_SOURCE_DIR) + "/data/fingering-train";

// Runs the fit with `arguments` from the source folder, killed after three minutes against a
// hang: a report takes about 7 s built for speed, but 35 s under the sanitizers on an idle
// machine and more than a minute while another test shares it.
ProgramRun runFit(const std::vector<std::string>& arguments) {
    const ProgramRun run = runProgramWith(kFitExe, arguments, std::chrono::seconds(180), "", false,
                                          QUORVEL_SOURCE_DIR);
    EXPECT_TRUE(run.ended) << "quorvel-fingering-fit did not end";
    return run;
}

// A figures line of the report: overall share and fingers of the Mutopia pieces, and of the
// exercises.
struct Figures {
    bool found = false;
    double mutopia = 0.0;
    size_t mutopiaFingers = 0;
    double exercises = 0.0;
    size_t exerciseFingers = 0;
};

Figures figuresAfter(const std::string& report, const std::string& label) {
    Figures f;
    const size_t at = report.find(label + ": Mutopia");
    if (at == std::string::npos) {
        return f;
    }
    const std::string line = report.substr(at, report.find('\n', at) - at);
    const size_t overall = line.find("overall");
    f.found = overall != std::string::npos &&
              std::sscanf(line.c_str() + overall, "overall %lf %% (%zu); exercises %lf %% (%zu)",
                          &f.mutopia, &f.mutopiaFingers, &f.exercises, &f.exerciseFingers) == 4;
    return f;
}

// The printed fingers of the training pieces as the planners see them, counted apart.
void countTrainingFingers(size_t* mutopia, size_t* exercises) {
    std::vector<SplitEntry> split;
    std::string error;
    ASSERT_TRUE(readSplit(kTrain + "/split.tsv", &split, &error)) << error;
    *mutopia = *exercises = 0;
    for (const SplitEntry& e : split) {
        if (e.role != "train") {
            continue;
        }
        CorpusPiece piece;
        ASSERT_TRUE(readCorpusPiece(kTrain + "/pieces/" + e.piece, &piece, &error)) << error;
        const size_t fingers = printedFingers(fillGrids(piece)).size();
        (e.piece.rfind("mutopia-", 0) == 0 ? *mutopia : *exercises) += fingers;
    }
}

TEST(FingeringFitProgram, CrossValidationJudgesEveryTrainingFingerOnceAndNoValidationPiece) {
    const ProgramRun run = runFit({"--report"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Figures handSet = figuresAfter(run.out, "hand-set rules");
    const Figures fitted = figuresAfter(run.out, "compiled-in weights and rules, cross-validated");
    ASSERT_TRUE(handSet.found && fitted.found) << run.out;

    // Every group left out in turn: each printed finger of the training pieces is judged exactly
    // once, by the fitted table as by the hand-set rules.
    size_t mutopia = 0, exercises = 0;
    countTrainingFingers(&mutopia, &exercises);
    ASSERT_GT(mutopia, 1000u);
    EXPECT_EQ(fitted.mutopiaFingers, mutopia);
    EXPECT_EQ(handSet.mutopiaFingers, mutopia);
    EXPECT_EQ(fitted.exerciseFingers, exercises);
    EXPECT_EQ(handSet.exerciseFingers, exercises);
    // On pieces left out of their own counts the fitted table does not fall behind the rules it
    // adds to.
    EXPECT_GE(fitted.mutopia, handSet.mutopia);
    EXPECT_GE(fitted.exercises, handSet.exercises);

    // The same split with its validation pieces pointing at files that do not exist: the fit never
    // opens them, so its report is the same line for line.
    namespace fs = std::filesystem;
    const fs::path data = fs::temp_directory_path() / ("quorvel_fit_" + std::to_string(getpid()));
    fs::create_directories(data);
    fs::create_directory_symlink(kTrain + "/pieces", data / "pieces");
    std::ifstream split(kTrain + "/split.tsv");
    std::ofstream changed(data / "split.tsv");
    std::string line;
    while (std::getline(split, line)) {
        const size_t tab = line.find('\t');
        const bool validation = tab != std::string::npos && line.substr(tab + 1) == "validation";
        changed << (validation ? "missing-" + line : line) << '\n';
    }
    changed.close();
    const ProgramRun hidden = runFit({"--report", "--data", data.string()});
    EXPECT_EQ(hidden.status, 0) << hidden.err;
    EXPECT_EQ(hidden.out, run.out);

    // A training piece that cannot be read: one line and status 1.
    std::ofstream(data / "split.tsv") << "missing-piece.tsv\ttrain\n";
    const ProgramRun broken = runFit({"--report", "--data", data.string()});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.err.find("missing-piece.tsv"), std::string::npos) << broken.err;
    EXPECT_EQ(std::count(broken.err.begin(), broken.err.end(), '\n'), 1) << broken.err;
    fs::remove_all(data);
}

// By composer: every composer of the training pieces in exactly one group (an edition's habits
// never on both sides of a group's line), every printed finger still judged once, and the groups'
// tallies adding up to the whole. A start that a full fit would not use is refused.
TEST(FingeringFitProgram, GroupsByComposerKeepEachComposerWholeAndJudgeEveryFingerOnce) {
    const ProgramRun run = runFit({"--report", "--groups", "composer"});
    ASSERT_EQ(run.status, 0) << run.err;
    const size_t at = run.out.find("groups by composer:");
    ASSERT_NE(at, std::string::npos) << run.out;
    const std::string line = run.out.substr(at, run.out.find('\n', at) - at);

    std::vector<SplitEntry> split;
    std::string error;
    ASSERT_TRUE(readSplit(kTrain + "/split.tsv", &split, &error)) << error;
    std::vector<std::string> composers;
    for (const SplitEntry& e : split) {
        if (e.role == "train" && e.piece.rfind("mutopia-", 0) == 0) {
            const std::string c = e.piece.substr(8, e.piece.find('-', 8) - 8);
            if (std::find(composers.begin(), composers.end(), c) == composers.end()) {
                composers.push_back(c);
            }
        }
    }
    ASSERT_GE(composers.size(), 6u);
    int groupsUsed = 0;
    for (int g = 0; g < 6; ++g) {
        const size_t from = line.find(" " + std::to_string(g) + ":");
        ASSERT_NE(from, std::string::npos) << line;
        groupsUsed +=
            line.substr(from, line.find(';', from) - from).find_first_not_of(" 0123456789:") !=
            std::string::npos;
    }
    EXPECT_EQ(groupsUsed, 6) << "a group left empty: " << line;
    for (const std::string& c : composers) {
        size_t times = 0;
        for (size_t p = line.find(" " + c + " "); p != std::string::npos;
             p = line.find(" " + c + " ", p + 1)) {
            ++times;
        }
        EXPECT_EQ(times, 1u) << c << " in " << line;
    }
    size_t mutopia = 0, exercises = 0;
    countTrainingFingers(&mutopia, &exercises);
    const Figures fitted = figuresAfter(run.out, "compiled-in weights and rules, cross-validated");
    ASSERT_TRUE(fitted.found) << run.out;
    EXPECT_EQ(fitted.mutopiaFingers, mutopia);
    EXPECT_EQ(fitted.exerciseFingers, exercises);

    const ProgramRun full = runFit({"--set", "3=0.8"});
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
    EXPECT_EQ(full.out.find("counted"), std::string::npos) << "the search began";
}

// A refit's tables are written after minutes to hours of search: an output it cannot write is
// refused before the search, in one line, and a link at the output is left as it was. (Without
// the early check the refit would run past the three minutes runFit allows it.)
TEST(FingeringFitProgram, AnOutputItCannotWriteIsRefusedBeforeTheSearch) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("quorvel_fit_out_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::vector<std::string> refit = {"--continue", "--rule-rounds", "0", "--out"};

    std::vector<std::string> missing = refit;
    missing.push_back((dir / "no-such-folder" / "fitted_costs.inc").string());
    const ProgramRun nowhere = runFit(missing);
    EXPECT_EQ(nowhere.status, 1) << nowhere.out;
    EXPECT_NE(nowhere.err.find("cannot write"), std::string::npos) << nowhere.err;
    EXPECT_EQ(std::count(nowhere.err.begin(), nowhere.err.end(), '\n'), 1) << nowhere.err;
    EXPECT_EQ(nowhere.out.find("counted"), std::string::npos) << "the search began";

    // A link where the second table goes that names a folder: refused before any work, the first
    // table not begun and the folder as it was.
    const fs::path folder = dir / "a-folder";
    fs::create_directories(folder);
    fs::create_directory_symlink(folder, dir / "fitted_second.inc");
    std::vector<std::string> linked = refit;
    linked.push_back((dir / "fitted_costs.inc").string());
    const ProgramRun link = runFit(linked);
    EXPECT_EQ(link.status, 1) << link.out;
    EXPECT_NE(link.err.find("fitted_second.inc"), std::string::npos) << link.err;
    EXPECT_EQ(std::count(link.err.begin(), link.err.end(), '\n'), 1) << link.err;
    EXPECT_EQ(link.out.find("counted"), std::string::npos) << "the search began";
    EXPECT_FALSE(fs::exists(dir / "fitted_costs.inc"));
    EXPECT_TRUE(fs::is_empty(folder));
    // The split the fit would read, named as its output (a typing slip away from --split): refused
    // before the search, the split as it was.
    const fs::path data = dir / "data";
    fs::create_directories(data);
    fs::create_directory_symlink(kTrain + "/pieces", data / "pieces");
    fs::copy_file(kTrain + "/split.tsv", data / "split.tsv");
    const std::uintmax_t splitSize = fs::file_size(data / "split.tsv");
    const ProgramRun own = runFit({"--continue", "--rule-rounds", "0", "--data", data.string(),
                                   "--out", (data / "split.tsv").string()});
    EXPECT_EQ(own.status, 1) << own.out;
    EXPECT_EQ(std::count(own.err.begin(), own.err.end(), '\n'), 1) << own.err;
    EXPECT_EQ(own.out.find("counted"), std::string::npos) << "the search began";
    EXPECT_EQ(fs::file_size(data / "split.tsv"), splitSize);
    fs::remove_all(data);

    // Nothing beside them: no temporary of either table, whatever its name.
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "a-folder" || name == "fitted_second.inc") << e.path();
    }
    fs::remove_all(dir);
}

}  // namespace
