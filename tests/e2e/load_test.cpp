// Runs the built program on scores it cannot load: it must say why, on the right stream, and
// end with status 0 before any window opens.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

const std::string kData = QUORVEL_SOURCE_DIR "/tests/data/";
// A program that cannot load its score ends at once; this is only a guard against a hang.
constexpr auto kMaximumRun = std::chrono::seconds(20);

struct ProgramRun {
    bool ended = false;  // false when it had to be killed
    int status = -1;     // exit status when it ended normally
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the program with `argument`, standard output and standard error to separate files.
ProgramRun runProgram(const std::string& argument) {
    char outPath[] = "/tmp/quorvel_load_out_XXXXXX";
    char errPath[] = "/tmp/quorvel_load_err_XXXXXX";
    const int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    ProgramRun run;
    if (outFd < 0 || errFd < 0) {
        ADD_FAILURE() << "cannot create capture files";
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        execl(QUORVEL_EXE, QUORVEL_EXE, argument.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(outFd);
    close(errFd);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kMaximumRun;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.out = slurp(outPath);
            run.err = slurp(errPath);
            unlink(outPath);
            unlink(errPath);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.ended = WIFEXITED(status);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    unlink(outPath);
    unlink(errPath);
    return run;
}

std::string header(const std::string& path) {
    return "Loading MusicXML file...\nFile : " + path + "\n";
}

}  // namespace

TEST(LoadFromCommandLine, AMissingFileIsReportedOnStandardOutput) {
    const std::string path = kData + "load_no_such_file.xml";
    ProgramRun run = runProgram(path);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, header(path) +
                           "Could not load the score: the file cannot be read (No such file or "
                           "directory)\n");
    EXPECT_EQ(run.err, "");
}

TEST(LoadFromCommandLine, BadXmlIsReportedWithWhereTheParserStopped) {
    const std::string path = kData + "load_bad.xml";
    ProgramRun run = runProgram(path);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.out,
        header(path) + "Could not load the score: Start-end tags mismatch at line 6, column 5\n");
    EXPECT_EQ(run.err, "");
}

TEST(LoadFromCommandLine, AScoreWithoutAPianoEndsWithTheFormatMessage) {
    const std::string path = kData + "load_no_piano.xml";
    ProgramRun run = runProgram(path);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, header(path));
    EXPECT_EQ(run.err, "Piano Part ID could not be found: Program exited\n: Success\n");
}

TEST(LoadFromCommandLine, AnUnplayableChordEndsWithTheFormatMessage) {
    const std::string path = kData + "load_too_many_fingers.xml";
    ProgramRun run = runProgram(path);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, header(path));
    EXPECT_EQ(run.err,
              "Unexpected Format: unplayable format: not enough fingers (left hand)\n: Success\n");
}
