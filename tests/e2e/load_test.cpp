// Runs the built program on scores it cannot load: it must say why, on the right stream, and
// end with status 0 before any window opens.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/program_run.h"

namespace {

const std::string kData = QUORVEL_SOURCE_DIR "/tests/data/";
// A program that cannot load its score ends at once; this is only a guard against a hang.
constexpr auto kMaximumRun = std::chrono::seconds(20);

}  // namespace

TEST(LoadFromCommandLine, AMissingFileIsReportedOnStandardOutput) {
    const std::string path = kData + "load_no_such_file.xml";
    ProgramRun run = runProgram(path, kMaximumRun);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, loadingHeader(path) +
                           "Could not load the score: the file cannot be read (No such file or "
                           "directory)\n");
    EXPECT_EQ(run.err, "");
}

TEST(LoadFromCommandLine, BadXmlIsReportedWithWhereTheParserStopped) {
    const std::string path = kData + "load_bad.xml";
    ProgramRun run = runProgram(path, kMaximumRun);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              loadingHeader(path) +
                  "Could not load the score: Start-end tags mismatch at line 6, column 5\n");
    EXPECT_EQ(run.err, "");
}

TEST(LoadFromCommandLine, AScoreWithoutAPianoEndsWithTheFormatMessage) {
    const std::string path = kData + "load_no_piano.xml";
    ProgramRun run = runProgram(path, kMaximumRun);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, loadingHeader(path));
    EXPECT_EQ(run.err, "Piano Part ID could not be found: Program exited\n: Success\n");
}

TEST(LoadFromCommandLine, AnUnplayableChordEndsWithTheFormatMessage) {
    const std::string path = kData + "load_too_many_fingers.xml";
    ProgramRun run = runProgram(path, kMaximumRun);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, loadingHeader(path));
    EXPECT_EQ(run.err,
              "Unexpected Format: unplayable format: not enough fingers (left hand)\n: Success\n");
}
