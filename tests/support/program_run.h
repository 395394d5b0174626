// Runs the built program once to its end with its standard output and standard error captured
// apart, for the end-to-end tests of scores it refuses.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// The unprivileged account a root test run drops to, so that file permissions apply.
constexpr uid_t kNobody = 65534;

struct ProgramRun {
    bool ended = false;  // false when it had to be killed or died of a signal
    int status = -1;     // exit status when it ended normally
    std::string out;
    std::string err;
};

inline std::string slurpFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `program` with `args`; it is killed once its standard output holds `until` (when not
// empty) or after `limit` (a guard against a hang). With `dropRoot`, a run as root drops to the
// unprivileged user first; with a `folder`, the program starts in it. `inChild` runs in the
// new process just before the program starts, under the process id the program will have.
inline ProgramRun runProgramWith(const std::string& program, const std::vector<std::string>& args,
                                 std::chrono::seconds limit, const std::string& until = "",
                                 bool dropRoot = false, const std::string& folder = "",
                                 const std::function<void()>& inChild = {}) {
    char outPath[] = "/tmp/quorvel_run_out_XXXXXX";
    char errPath[] = "/tmp/quorvel_run_err_XXXXXX";
    const int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    ProgramRun run;
    if (outFd < 0 || errFd < 0) {
        ADD_FAILURE() << "cannot create capture files";
        return run;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (dropRoot && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(126);
        }
        if (!folder.empty() && chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        if (inChild) {
            inChild();
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        const bool seen = !until.empty() && slurpFile(outPath).find(until) != std::string::npos;
        if (seen || std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.ended = WIFEXITED(status);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurpFile(outPath);
    run.err = slurpFile(errPath);
    unlink(outPath);
    unlink(errPath);
    return run;
}

// Runs the program with `argument`; it is killed after `limit` (a guard against a hang). With
// `dropRoot`, a run as root drops to the unprivileged user first.
inline ProgramRun runProgram(const std::string& argument, std::chrono::seconds limit,
                             bool dropRoot = false) {
    return runProgramWith(QUORVEL_EXE, {argument}, limit, "", dropRoot);
}

// What the program prints first when it is given a score on the command line.
inline std::string loadingHeader(const std::string& path) {
    return "Loading MusicXML file...\nFile : " + path + "\n";
}
