// Runs the built program in a real window on the virtual X server, types commands into it with
// xdotool and watches its picture with xwd, its processor time in /proc and its console output.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/expected_help.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kScore = QUORVEL_SOURCE_DIR "/tests/data/playback_three_measures.xml";

// Output of a shell command, or an empty text when it failed.
std::string shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    pclose(pipe);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The program under test, with its console output going to a file.
struct Program {
    pid_t pid = -1;
    std::string stdoutPath;
    int status = -1;  // wait status once it has ended

    bool start(const std::string& score) {
        char path[] = "/tmp/quorvel_playback_XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0) {
            return false;
        }
        stdoutPath = path;
        pid = fork();
        if (pid == 0) {
            dup2(fd, STDOUT_FILENO);
            execl(QUORVEL_EXE, QUORVEL_EXE, score.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fd);
        return pid > 0;
    }

    // Waits up to the limit for the program to end; true when it did.
    bool waitForExit(milliseconds limit) {
        auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                pid = -1;
                return true;
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        return false;
    }

    // Processor time used so far (user + system), in clock ticks; -1 when unreadable.
    long cpuTicks() const {
        std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            return -1;
        }
        // After the command name: state is field 3; utime and stime are fields 14 and 15.
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        long utime = -1;
        long stime = -1;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) {
                utime = std::atol(field.c_str());
            } else if (i == 15) {
                stime = std::atol(field.c_str());
            }
        }
        return utime < 0 || stime < 0 ? -1 : utime + stime;
    }

    // Share of one core used over the given time.
    double cpuShare(milliseconds over) const {
        long before = cpuTicks();
        auto t0 = Clock::now();
        std::this_thread::sleep_for(over);
        long after = cpuTicks();
        double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        return static_cast<double>(after - before) / sysconf(_SC_CLK_TCK) / seconds;
    }

    ~Program() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (!stdoutPath.empty()) {
            unlink(stdoutPath.c_str());
        }
    }
};

// The program's window, found by its title; an empty text when it did not appear in time.
std::string findWindow() {
    std::string out = shell("timeout 30 xdotool search --sync --onlyvisible --name '^Quorvel$'");
    std::istringstream lines(out);
    std::string id;
    lines >> id;
    return id;
}

// xdotool warns on stderr that a server without a window manager has no focused window, and
// reports the release of "q" sent to a window that has already gone; neither matters here.
void typeKey(const std::string& window, const std::string& key) {
    shell("xdotool key --window " + window + " " + key + " 2>/dev/null");
}

// The start camera looks along the keyboard from its treble end, where the end of the last key
// hides the others. A drag to the left by half the window turns it a quarter round to face the
// keys, and a drag upwards raises it above them.
void faceTheKeyboard(const std::string& window) {
    shell("xdotool mousemove --window " + window + " 600 250 mousedown 1 mousemove --window " +
          window + " 200 150 mouseup 1 2>/dev/null");
}

// One picture of a window: rows of packed 32-bit pixels.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(uint32_t x, uint32_t y) const { return pixels[y * width + x]; }
};

uint32_t bigEndian(const std::string& data, size_t offset) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data()) + offset;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Reads the window through xwd. An XWD file is a header of big-endian 32-bit fields, the window
// name, a colour table of 12-byte entries and the pixel rows.
bool capture(const std::string& window, Picture& picture) {
    std::string data = shell("xwd -silent -id " + window);
    if (data.size() < 100) {
        return false;
    }
    uint32_t headerSize = bigEndian(data, 0);
    uint32_t width = bigEndian(data, 16);
    uint32_t height = bigEndian(data, 20);
    uint32_t byteOrder = bigEndian(data, 28);
    uint32_t bitsPerPixel = bigEndian(data, 44);
    uint32_t bytesPerLine = bigEndian(data, 48);
    uint32_t colours = bigEndian(data, 76);
    size_t start = size_t{headerSize} + size_t{colours} * 12;
    if (bitsPerPixel != 32 || data.size() < start + size_t{bytesPerLine} * height ||
        bytesPerLine < width * 4) {
        return false;
    }
    picture.width = width;
    picture.height = height;
    picture.pixels.assign(size_t{width} * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data()) + start +
                                     y * bytesPerLine + x * 4;
            uint32_t v = byteOrder == 0 ? (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) |
                                              (uint32_t{p[1]} << 8) | p[0]
                                        : (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                              (uint32_t{p[2]} << 8) | p[3];
            picture.pixels[size_t{y} * width + x] = v & 0xffffffu;
        }
    }
    return true;
}

// Pixels of one row that differ between two pictures of the same size.
int rowDifference(const Picture& a, const Picture& b, uint32_t y) {
    int count = 0;
    for (uint32_t x = 0; x < a.width; ++x) {
        count += a.at(x, y) != b.at(x, y);
    }
    return count;
}

// Rows of the two pictures that differ anywhere.
std::vector<uint32_t> changedRows(const Picture& a, const Picture& b) {
    std::vector<uint32_t> rows;
    if (a.width != b.width || a.height != b.height) {
        return rows;
    }
    for (uint32_t y = 0; y < a.height; ++y) {
        if (rowDifference(a, b, y) > 0) {
            rows.push_back(y);
        }
    }
    return rows;
}

// A lit, colourless pixel: a white key, or a black key once pressed. The hands are cyan and the
// background black, so neither counts.
bool grey(uint32_t v) {
    int r = (v >> 16) & 0xff;
    int g = (v >> 8) & 0xff;
    int b = v & 0xff;
    return r > 24 && std::abs(r - g) <= 6 && std::abs(g - b) <= 6;
}

// Pixels that show a key in both pictures and are clearly darker in the second: a white key
// gone down (its pressed material is darker, and it tilts away from the light). A hand moving
// over a key turns it cyan instead, so hands alone never produce such pixels.
int darkenedKeyPixels(const Picture& before, const Picture& after) {
    if (before.width != after.width || before.height != after.height) {
        return 0;
    }
    constexpr int kClearlyDarker = 12;
    int count = 0;
    for (size_t i = 0; i < before.pixels.size(); ++i) {
        uint32_t a = before.pixels[i];
        uint32_t b = after.pixels[i];
        if (grey(a) && grey(b) &&
            static_cast<int>((a >> 8) & 0xff) - static_cast<int>((b >> 8) & 0xff) >=
                kClearlyDarker) {
            ++count;
        }
    }
    return count;
}

bool lit(const Picture& p) {
    for (uint32_t v : p.pixels) {
        if (v != 0) {
            return true;
        }
    }
    return false;
}

TEST(PlaybackEndToEnd, CommandsPlayTheScoreToTheEndAndQuit) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X server (ctest runs this under xvfb-run)";
    Program program;
    ASSERT_TRUE(program.start(kScore));
    std::string window = findWindow();
    ASSERT_FALSE(window.empty()) << "the window did not appear";

    // Let the first frames be drawn, then take the still picture before any command.
    Picture still;
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while ((!capture(window, still) || !lit(still)) && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(100));
    }
    ASSERT_TRUE(lit(still)) << "nothing was drawn";
    faceTheKeyboard(window);
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_TRUE(capture(window, still));

    typeKey(window, "h");
    typeKey(window, "w");
    typeKey(window, "s");
    typeKey(window, "P");

    // While playing, the idle callback keeps a core busy; once the score has ended it rests.
    // Watch the picture in the meantime: the keys going down must show.
    std::vector<uint32_t> moved;
    int mostDarkened = 0;
    bool playing = false;
    bool ended = false;
    deadline = Clock::now() + std::chrono::seconds(120);
    while (!ended && Clock::now() < deadline) {
        Picture frame;
        if (capture(window, frame)) {
            for (uint32_t y : changedRows(still, frame)) {
                moved.push_back(y);
            }
            mostDarkened = std::max(mostDarkened, darkenedKeyPixels(still, frame));
        }
        double share = program.cpuShare(milliseconds(300));
        playing = playing || share >= 0.2;
        ended = playing && share < 0.2;
    }
    ASSERT_TRUE(ended) << "playback did not end in time";
    EXPECT_FALSE(moved.empty()) << "the picture never changed during play";
    EXPECT_GE(mostDarkened, 20) << "no key was seen going down during play";

    // The picture is still again after the end.
    Picture end1;
    Picture end2;
    ASSERT_TRUE(capture(window, end1));
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_TRUE(capture(window, end2));
    EXPECT_TRUE(changedRows(end1, end2).empty());

    typeKey(window, "q");
    ASSERT_TRUE(program.waitForExit(std::chrono::seconds(10))) << "q did not end the program";
    ASSERT_TRUE(WIFEXITED(program.status));
    EXPECT_EQ(WEXITSTATUS(program.status), 0);

    const std::string out = readFile(program.stdoutPath);
    const std::string help = kExpectedHelp;
    const std::string scan =
        "Scan Length : 5 quarter notes \n"
        "Scan Length : 4 quarter notes \n";
    size_t helpAt = out.find(help);
    EXPECT_NE(helpAt, std::string::npos) << out;
    EXPECT_NE(out.find(help + scan), std::string::npos) << out;
    // The help and the scan lengths are printed once each, after the loading report.
    EXPECT_EQ(out.rfind(help), helpAt);
    EXPECT_NE(out.find("Loading MusicXML file...\n"), std::string::npos);
    EXPECT_LT(out.find("Loading MusicXML file...\n"), helpAt);
}

TEST(PlaybackEndToEnd, StoppedProgramLeavesTheProcessorAlone) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X server (ctest runs this under xvfb-run)";
    Program program;
    ASSERT_TRUE(program.start(kScore));
    std::string window = findWindow();
    ASSERT_FALSE(window.empty()) << "the window did not appear";
    std::this_thread::sleep_for(milliseconds(500));

    double share = program.cpuShare(milliseconds(2000));
    EXPECT_GE(share, 0.0);
    EXPECT_LT(share, 0.05) << "a stopped program used " << share * 100 << "% of a core";

    typeKey(window, "Q");
    ASSERT_TRUE(program.waitForExit(std::chrono::seconds(10))) << "Q did not end the program";
    ASSERT_TRUE(WIFEXITED(program.status));
    EXPECT_EQ(WEXITSTATUS(program.status), 0);
}

}  // namespace
