// Shared by the export tests: a generated score loaded and planned as start-up does, temporary
// folders, FFmpeg's own tools to look inside the files we write, and running a copy of the test
// program in a fresh process (a process that has made a GL context cannot fork safely).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/planner.h"
#include "score/musicxml_reader.h"

namespace export_test {

// Keys of the generated score's right hand, one note every second: C4 D4 E4 F4 G4 A4 B4 C5.
constexpr int kKeys[8] = {39, 41, 43, 44, 46, 48, 50, 51};
constexpr int kNoteCount = 8;

// A piano score at 60 quarter notes a minute, two eighths per second: each right-hand note is
// an eighth (half a second) followed by an eighth rest, so a note starts every second; the left
// hand rests. Two measures of 4/4, divisions 2 (one tick = one eighth = half a second).
inline std::string oneNoteASecond() {
    static const char* steps[8] = {"C", "D", "E", "F", "G", "A", "B", "C"};
    static const int octaves[8] = {4, 4, 4, 4, 4, 4, 4, 5};
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">"
           "<part-list><score-part id=\"P1\"><part-name>Piano</part-name>"
           "<score-instrument id=\"P1-I1\"><instrument-name>Piano</instrument-name>"
           "</score-instrument></score-part></part-list><part id=\"P1\">";
    for (int measure = 0; measure < 2; ++measure) {
        xml << "<measure number=\"" << measure + 1 << "\">";
        if (measure == 0) {
            xml << "<attributes><divisions>2</divisions><staves>2</staves>"
                   "<clef number=\"1\"><sign>G</sign><line>2</line></clef>"
                   "<clef number=\"2\"><sign>F</sign><line>4</line></clef></attributes>"
                   "<direction><direction-type><words/></direction-type>"
                   "<sound tempo=\"60\"/></direction>";
        }
        for (int i = 0; i < 4; ++i) {
            const int n = measure * 4 + i;
            xml << "<note><pitch><step>" << steps[n] << "</step><octave>" << octaves[n]
                << "</octave></pitch><duration>1</duration><staff>1</staff></note>"
                   "<note><rest/><duration>1</duration><staff>1</staff></note>";
        }
        xml << "<backup><duration>8</duration></backup>"
               "<note><rest/><duration>8</duration><staff>2</staff></note></measure>";
    }
    xml << "</part></score-partwise>\n";
    return xml.str();
}

// Loads a document and plans both hands, as start-up does for the export modes.
inline bool loadAndPlan(const std::string& document) {
    setStartValues();
    if (loadScoreFromBuffer(document.data(), document.size(), nullptr) != 0) {
        return false;
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
    return true;
}

// A fresh empty folder under /tmp.
inline std::string makeFolder() {
    char name[] = "/tmp/quorvel_export_XXXXXX";
    const char* made = mkdtemp(name);
    return made != nullptr ? made : "";
}

// The names in a folder (without . and ..).
inline std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    return names;
}

inline void removeFolder(const std::string& folder) {
    for (const std::string& name : folderEntries(folder)) {
        std::remove((folder + "/" + name).c_str());
    }
    rmdir(folder.c_str());
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a shell command and returns its standard output ("" and a test failure when it fails).
inline std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, got);
        }
        const int status = pclose(pipe);
        EXPECT_EQ(status, 0) << command;
    }
    return out;
}

// The mean colour difference of two RGB pictures of `width` x `height` over their worst 16 x 16
// block: encoding noise spreads thinly, a key or a finger drawn elsewhere changes a block.
inline double worstBlockDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                                   int width, int height) {
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size() || a.size() != static_cast<size_t>(width) * height * 3) {
        return 1e9;
    }
    double worst = 0.0;
    for (int by = 0; by + 16 <= height; by += 16) {
        for (int bx = 0; bx + 16 <= width; bx += 16) {
            double block = 0.0;
            for (int y = by; y < by + 16; ++y) {
                for (int x = bx * 3; x < (bx + 16) * 3; ++x) {
                    const size_t i = static_cast<size_t>(y) * width * 3 + x;
                    block += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
                }
            }
            worst = std::max(worst, block / (16 * 16 * 3));
        }
    }
    return worst;
}

// Runs one test of this program in a new process, with `variable`=`value` in its environment and
// its standard error into `errPath`. Returns its exit status, or -1 when it died of a signal.
inline int runSelf(const std::string& test, const std::string& variable, const std::string& value,
                   const std::string& errPath) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        dup2(err, STDERR_FILENO);
        dup2(null, STDOUT_FILENO);
        setenv(variable.c_str(), value.c_str(), 1);
        const std::string filter = "--gtest_filter=" + test;
        execl("/proc/self/exe", "test_export", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace export_test
