// Runs the built program with long options: help and usage errors, and a notation-program export
// played through --prepare, whose totals must be those of the same score prepared to a file and
// loaded the classic way.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace {

const std::string kData = QUORVEL_SOURCE_DIR "/tests/data/";
const std::string kPrepareProgram = QUORVEL_BIN_DIR "/quorvel-prepare";
// Guard against a hang; the runs below end far sooner.
constexpr auto kGuard = std::chrono::seconds(60);

ProgramRun runWith(const std::string& program, const std::vector<std::string>& args,
                   const std::string& until = "") {
    return runProgramWith(program, args, kGuard, until);
}

// The lines from "Total duration" on.
std::string totals(const std::string& out) {
    const size_t at = out.find("Total duration");
    return at == std::string::npos ? "" : out.substr(at);
}

}  // namespace

TEST(ProgramOptions, HelpListsTheModesAndUsageErrorsEndWithOneLine) {
    ProgramRun help = runWith(QUORVEL_EXE, {"--help"});
    ASSERT_TRUE(help.ended);
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--prepare", "--part", "--play", "--realtime", "--export", "--still",
                               "--fingering", "quorvel-prepare", "quorvel-fingering"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }

    ProgramRun bad = runWith(QUORVEL_EXE, {"--realtime", "--speed", "9", "x.xml"});
    ASSERT_TRUE(bad.ended);
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "quorvel: --speed must be between 0.25 and 4 (see quorvel --help)\n");
}

// A score that cannot be prepared ends the mode with status 1 (a failure is never reported as
// success), and one line on standard error names the file and says why.
TEST(ProgramOptions, AScoreThatCannotBePreparedIsExplained) {
    const std::string path = kData + "load_no_such_file.xml";
    ProgramRun run = runWith(QUORVEL_EXE, {"--prepare", path});
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, loadingHeader(path));
    EXPECT_EQ(run.err.rfind("Could not prepare the score " + path + ": ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

// --prepare on a compressed export prints the same totals as the classic program does on the
// same score prepared to a file, and then opens the window.
TEST(ProgramOptions, PrepareInMemoryEqualsPreparingToAFile) {
    for (const char* name : {"real/scales.mxl", "real/ties.mxl", "real/tuplets.musicxml"}) {
        const std::string source = kData + name;
        const std::string prepared = std::string(QUORVEL_BINARY_DIR) + "/options_prepared.xml";
        ProgramRun written = runWith(kPrepareProgram, {source, prepared});
        ASSERT_TRUE(written.ended) << written.err;
        ASSERT_EQ(written.status, 0) << written.err;

        ProgramRun classic = runWith(QUORVEL_EXE, {prepared}, "Quarter Note Count");
        ProgramRun inMemory = runWith(QUORVEL_EXE, {"--prepare", source}, "Quarter Note Count");
        unlink(prepared.c_str());
        ASSERT_NE(totals(classic.out), "") << name << classic.out << classic.err;
        EXPECT_EQ(totals(inMemory.out), totals(classic.out)) << name << inMemory.err;
        EXPECT_EQ(inMemory.out.rfind(loadingHeader(source), 0), 0u) << inMemory.out;
    }
}
