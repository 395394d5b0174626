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

namespace {

const std::string kFitExe = std::string(QUORVEL_BIN_DIR) + "/quorvel-fingering-fit";
const std::string kTrain = std::string(QUORVEL_SOURCE_DIR) + "/data/fingering-train";

struct FitRun {
    int status = -1;  // exit status; -1 when it had to be killed or died of a signal
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the fit with `arguments` from the source folder, killed after a minute against a hang.
FitRun runFit(const std::vector<std::string>& arguments) {
    char outPath[] = "/tmp/quorvel_fit_out_XXXXXX";
    char errPath[] = "/tmp/quorvel_fit_err_XXXXXX";
    const int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    FitRun run;
    if (outFd < 0 || errFd < 0) {
        ADD_FAILURE() << "cannot create capture files";
        return run;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kFitExe.c_str()));
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (chdir(QUORVEL_SOURCE_DIR) != 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "quorvel-fingering-fit did not end";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    unlink(outPath);
    unlink(errPath);
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
    const FitRun run = runFit({"--report"});
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
    const FitRun hidden = runFit({"--report", "--data", data.string()});
    EXPECT_EQ(hidden.status, 0) << hidden.err;
    EXPECT_EQ(hidden.out, run.out);

    // A training piece that cannot be read: one line and status 1.
    std::ofstream(data / "split.tsv") << "missing-piece.tsv\ttrain\n";
    const FitRun broken = runFit({"--report", "--data", data.string()});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.err.find("missing-piece.tsv"), std::string::npos) << broken.err;
    EXPECT_EQ(std::count(broken.err.begin(), broken.err.end(), '\n'), 1) << broken.err;
    fs::remove_all(data);
}

}  // namespace
