// The quorvel-prepare program as a user runs it: exit status, the lines on standard error and
// the file it writes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

const std::string kPrepareExe = std::string(QUORVEL_BIN_DIR) + "/quorvel-prepare";
const std::string kData = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/";

struct PrepareRun {
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

// Runs quorvel-prepare with `arguments`, killed after ten seconds as a guard against a hang.
PrepareRun runPrepare(const std::vector<std::string>& arguments) {
    char outPath[] = "/tmp/quorvel_prepare_out_XXXXXX";
    char errPath[] = "/tmp/quorvel_prepare_err_XXXXXX";
    const int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    PrepareRun run;
    if (outFd < 0 || errFd < 0) {
        ADD_FAILURE() << "cannot create capture files";
        return run;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kPrepareExe.c_str()));
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "quorvel-prepare did not end";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

std::string temporaryOutput(const std::string& name) {
    return "/tmp/quorvel_prepare_" + std::to_string(getpid()) + "_" + name;
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

TEST(PrepareProgram, WritesThePreparedScoreAndReportsEachChange) {
    const std::string input = kData + "prepare/choice_hands_as_parts.xml";
    const std::string output = temporaryOutput("hands.xml");
    const PrepareRun run = runPrepare({input, output});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    // The same lines as the library reports, one each, and the same document.
    PrepareResult expected;
    ASSERT_TRUE(prepareScore(input, {}, &expected));
    std::string lines;
    for (const std::string& line : expected.changes) {
        lines += line + "\n";
    }
    EXPECT_EQ(run.err, lines);
    EXPECT_NE(run.err.find("parts: P2 \"Piano (right)\" played as the right hand"),
              std::string::npos);
    const std::string written = slurp(output);
    EXPECT_EQ(written, expected.xml);
    // And the program itself loads it.
    rightNotes.clear();
    leftNotes.clear();
    currentTick = -1;
    divisions = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadScoreFromBuffer(written.data(), written.size(), nullptr), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(rightNotes.size(), 8u);
    std::remove(output.c_str());
}

TEST(PrepareProgram, WritesRepeatsOutInTheOrderOfPlayUnlessToldNotTo) {
    const std::string input = kData + "repeats/ds_al_coda.musicxml";
    const std::string output = temporaryOutput("coda.xml");
    auto numbers = [](const std::string& xml) {
        std::string found;
        for (size_t at = xml.find("<measure number=\""); at != std::string::npos;
             at = xml.find("<measure number=\"", at + 1)) {
            const size_t from = at + 17;
            found += xml.substr(from, xml.find('"', from) - from) + " ";
        }
        return found;
    };
    PrepareRun run = runPrepare({input, output});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(numbers(slurp(output)), "1 2 3 4 2 3 5 6 ");
    EXPECT_NE(run.err.find("repeats: 6 measures written, 8 played in performance order"),
              std::string::npos)
        << run.err;
    run = runPrepare({"--no-repeats", input, output});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(numbers(slurp(output)), "1 2 3 4 5 6 ");
    EXPECT_EQ(run.err.find("repeats:"), std::string::npos) << run.err;
    std::remove(output.c_str());
}

TEST(PrepareProgram, RefusesWithOneLineAndStatusOne) {
    const std::string output = temporaryOutput("never.xml");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{kData + "load_bad.xml", output}, "quorvel-prepare: " + kData + "load_bad.xml: not well"},
        {{kData + "prepare/no_music.xml", output},
         "quorvel-prepare: " + kData + "prepare/no_music.xml: no piano music"},
        {{kData + "prepare/voices.xml", "/nonexistent/folder/out.xml"},
         "quorvel-prepare: cannot write /nonexistent/folder/out.xml: "},
        {{kData + "prepare/voices.xml"}, "quorvel-prepare: OUTPUT is required"},
        {{"--part", "1", "--part", "2", "--part", "3", kData + "prepare/voices.xml", output},
         "quorvel-prepare: --part may be given at most twice"},
        {{"--part", "P7", kData + "prepare/voices.xml", output},
         "quorvel-prepare: " + kData + "prepare/voices.xml: --part P7: no such part"},
    };
    for (const auto& [arguments, start] : cases) {
        const PrepareRun run = runPrepare(arguments);
        EXPECT_EQ(run.status, 1) << start;
        EXPECT_EQ(run.err.compare(0, start.size(), start), 0) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_FALSE(exists(output));
    }
}

TEST(PrepareProgram, HelpNamesTheOptions) {
    const PrepareRun run = runPrepare({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("quorvel-prepare [OPTIONS] INPUT OUTPUT"), std::string::npos);
    EXPECT_NE(run.out.find("--part"), std::string::npos);
}

}  // namespace
