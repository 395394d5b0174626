#pragma once

// Pieces the load and preparation benchmarks share: a clean score model between runs, a bare
// parse to compare with, and the peak memory and the time of a piece of work run in a child
// process.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "score/score_model.h"

inline double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The score model as start-up leaves it before the reader runs.
inline void resetModel() {
    rightNotes = std::vector<NoteEvent>();
    leftNotes = std::vector<NoteEvent>();
    currentTick = -1;
    divisions = 0;
    scanLength = 0;
}

// pugixml's own parse of the file, the yardstick of every load figure.
inline bool bareParse(const std::string& path) {
    pugi::xml_document document;
    return static_cast<bool>(document.load_file(path.c_str()));
}

// Peak resident memory, in KiB, of a child process that runs `work`; -1 when the work fails.
template <typename Work>
long childPeakKiB(Work work) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

// Seconds `work` takes in a child process of its own, as a user's run of the program meets it:
// a fresh heap, no pages left over from earlier runs. -1 when the work fails.
template <typename Work>
double childSeconds(Work work) {
    int ends[2];
    if (pipe(ends) != 0) {
        return -1;
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        const auto start = std::chrono::steady_clock::now();
        const bool done = work();
        const double taken = done ? seconds(std::chrono::steady_clock::now() - start) : -1;
        const bool sent =
            write(ends[1], &taken, sizeof taken) == static_cast<ssize_t>(sizeof taken);
        _exit(done && sent ? 0 : 1);
    }
    close(ends[1]);
    double taken = -1;
    if (pid < 0 || read(ends[0], &taken, sizeof taken) != static_cast<ssize_t>(sizeof taken)) {
        taken = -1;
    }
    close(ends[0]);
    int status = 0;
    if (pid > 0) {
        waitpid(pid, &status, 0);
    }
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return taken;
}
