#pragma once

// Pieces the load and preparation benchmarks share: a clean score model between runs, a bare
// parse to compare with, and the peak memory of a piece of work run in a child process.

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
