// The real-time window end to end: the built program plays a score in time with its tempo on the
// virtual X server. Typed commands go in through xdotool; the picture comes back through xwd and
// the processor time through /proc.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    pclose(pipe);
    return out;
}

// A score at 90 quarter notes a minute: a measure of rest (2.67 s), a measure of a held chord
// in both hands, a measure of rest. With the window's 0.3 s of lead-in the keys are down from
// 2.97 s to 5.63 s after "p" (at the default tempo of 120 it would be 2.3 s to 4.3 s).
std::string restChordRestScore() {
    auto note = [](const char* step, int octave, bool chord, int staff) {
        return std::string("<note>") + (chord ? "<chord/>" : "") + "<pitch><step>" + step +
               "</step><octave>" + std::to_string(octave) + "</octave></pitch><duration>4" +
               "</duration><staff>" + std::to_string(staff) + "</staff></note>";
    };
    auto rest = [](int staff) {
        return "<note><rest/><duration>4</duration><staff>" + std::to_string(staff) +
               "</staff></note>";
    };
    std::string xml =
        "<?xml version=\"1.0\"?><score-partwise version=\"3.1\"><part-list><score-part "
        "id=\"P1\"><part-name>Piano</part-name><score-instrument id=\"P1-I1\"><instrument-name>"
        "Piano</instrument-name></score-instrument></score-part></part-list><part id=\"P1\">"
        "<measure number=\"1\"><attributes><divisions>1</divisions><staves>2</staves><clef "
        "number=\"1\"><sign>G</sign></clef><clef number=\"2\"><sign>F</sign></clef></attributes>"
        "<direction><direction-type><words/></direction-type><sound tempo=\"90\"/></direction>" +
        rest(1) + "<backup><duration>4</duration></backup>" + rest(2) +
        "</measure><measure number=\"2\">" + note("C", 4, false, 1) + note("E", 4, true, 1) +
        note("G", 4, true, 1) + "<backup><duration>4</duration></backup>" + note("C", 3, false, 2) +
        note("G", 3, true, 2) + "</measure><measure number=\"3\">" + rest(1) +
        "<backup><duration>4</duration></backup>" + rest(2) + "</measure></part>" +
        "</score-partwise>";
    return xml;
}

struct Program {
    pid_t pid = -1;
    std::string outPath, errPath;
    int status = -1;

    bool start(const std::vector<std::string>& arguments) {
        char out[] = "/tmp/quorvel_realtime_out_XXXXXX";
        char err[] = "/tmp/quorvel_realtime_err_XXXXXX";
        int outFd = mkstemp(out);
        int errFd = mkstemp(err);
        if (outFd < 0 || errFd < 0) {
            return false;
        }
        outPath = out;
        errPath = err;
        pid = fork();
        if (pid == 0) {
            dup2(outFd, STDOUT_FILENO);
            dup2(errFd, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(QUORVEL_EXE)};
            for (const std::string& a : arguments) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(QUORVEL_EXE, argv.data());
            _exit(127);
        }
        close(outFd);
        close(errFd);
        return pid > 0;
    }

    bool waitForExit(std::chrono::seconds limit) {
        auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return true;
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        return false;
    }

    long cpuTicks() const {
        std::string stat = slurpFile("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            return -1;
        }
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14 || i == 15) {
                ticks += std::atol(field.c_str());  // user and system time
            }
        }
        return ticks;
    }

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
        unlink(outPath.c_str());
        unlink(errPath.c_str());
    }
};

std::string findWindow() {
    std::string out =
        shellOutput("timeout 30 xdotool search --sync --onlyvisible --name '^Quorvel$'");
    std::istringstream lines(out);
    std::string id;
    lines >> id;
    return id;
}

void typeKey(const std::string& window, const std::string& key) {
    shellOutput("xdotool key --window " + window + " " + key + " 2>/dev/null");
}

// The window's pixels as 0xRRGGBB, through xwd (32-bit pixels, either byte order).
std::vector<uint32_t> capture(const std::string& window) {
    std::string data = shellOutput("xwd -silent -id " + window);
    std::vector<uint32_t> pixels;
    if (data.size() < 100) {
        return pixels;
    }
    auto field = [&](size_t at) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data()) + at;
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    };
    uint32_t header = field(0), width = field(16), height = field(20), order = field(28);
    uint32_t bits = field(44), line = field(48), colours = field(76);
    size_t start = size_t{header} + size_t{colours} * 12;
    if (bits != 32 || data.size() < start + size_t{line} * height) {
        return pixels;
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char* p =
                reinterpret_cast<const unsigned char*>(data.data()) + start + y * line + x * 4;
            pixels.push_back(order == 0 ? uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]
                                        : uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]);
        }
    }
    return pixels;
}

bool grey(uint32_t v) {
    int r = (v >> 16) & 0xff, g = (v >> 8) & 0xff, b = v & 0xff;
    return r > 24 && std::abs(r - g) <= 6 && std::abs(g - b) <= 6;
}

// Key pixels clearly darker than in the still picture: keys gone down. Hands are cyan and never
// count.
int darkenedKeyPixels(const std::vector<uint32_t>& still, const std::vector<uint32_t>& now) {
    if (still.size() != now.size()) {
        return -1;
    }
    int count = 0;
    for (size_t i = 0; i < still.size(); ++i) {
        if (grey(still[i]) && grey(now[i]) &&
            static_cast<int>((still[i] >> 8) & 0xff) - static_cast<int>((now[i] >> 8) & 0xff) >=
                12) {
            ++count;
        }
    }
    return count;
}

// Waits until `seconds` after `start`, then captures.
std::vector<uint32_t> captureAt(const std::string& window, Clock::time_point start,
                                double seconds) {
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds)));
    return capture(window);
}

std::string writeScore() {
    std::string path = testing::TempDir() + "realtime_rest_chord.xml";
    std::ofstream(path) << restChordRestScore();
    return path;
}

}  // namespace

// Keys stay up through the rest, are down while the chord sounds and up again after it; a
// stopped window leaves the processor alone, a playing one draws, and "q" ends it with 0.
TEST(RealtimeEndToEnd, KeysGoDownWhileTheChordSoundsAndTheProgramQuits) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X server (ctest runs this under xvfb-run)";
    std::string score = writeScore();
    Program program;
    ASSERT_TRUE(program.start({"--realtime", "--mute", score}));
    std::string window = findWindow();
    ASSERT_FALSE(window.empty()) << "the window did not appear";
    std::this_thread::sleep_for(milliseconds(800));
    std::vector<uint32_t> still = capture(window);
    ASSERT_FALSE(still.empty());
    EXPECT_EQ(still.size(), 1280u * 720u) << "the real-time window is 1280 x 720";

    double stoppedShare = program.cpuShare(milliseconds(1500));
    EXPECT_LT(stoppedShare, 0.05) << "a stopped window used " << stoppedShare * 100
                                  << "% of a core";

    typeKey(window, "p");
    auto played = Clock::now();
    std::vector<uint32_t> duringRest = captureAt(window, played, 2.5);
    std::vector<uint32_t> duringChord = captureAt(window, played, 5.0);
    std::vector<uint32_t> afterChord = captureAt(window, played, 6.8);
    EXPECT_LT(darkenedKeyPixels(still, duringRest), 20) << "a key went down during the rest";
    EXPECT_GE(darkenedKeyPixels(still, duringChord), 100) << "no key down during the chord";
    EXPECT_LT(darkenedKeyPixels(still, afterChord), 20) << "a key stayed down after the chord";

    // The performance ends about 8.8 s after "p"; then the window rests again.
    std::this_thread::sleep_until(played + std::chrono::seconds(10));
    double endedShare = program.cpuShare(milliseconds(1500));
    EXPECT_LT(endedShare, 0.05) << "an ended performance used " << endedShare * 100 << "%";

    typeKey(window, "h");
    typeKey(window, "q");
    ASSERT_TRUE(program.waitForExit(std::chrono::seconds(10))) << "q did not end the program";
    ASSERT_TRUE(WIFEXITED(program.status));
    EXPECT_EQ(WEXITSTATUS(program.status), 0);
    std::string out = slurpFile(program.outPath);
    EXPECT_NE(out.find("p......................play from the start, in time with the score\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(slurpFile(program.errPath), "");  // muted: not a word about sound
    std::remove(score.c_str());
}

// Without --mute the sound is tried; with no audio device there is exactly one line saying so,
// and the performance plays anyway (--play starts it at once).
TEST(RealtimeEndToEnd, WithoutASoundCardOneLineAndASilentPerformance) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X server (ctest runs this under xvfb-run)";
    std::string score = writeScore();
    Program program;
    ASSERT_TRUE(program.start({"--realtime", "--play", score}));
    std::string window = findWindow();
    ASSERT_FALSE(window.empty()) << "the window did not appear";
    // The performance runs from the first frame: the keys are up through the rest, down from
    // 2.97 s to 5.63 s and up again after. Measured by the picture rather than by the processor
    // time the program takes, which a busy machine starves; either still picture may come late
    // by a second without the check missing the chord.
    auto shown = Clock::now();
    std::vector<uint32_t> duringRest = captureAt(window, shown, 0.0);
    std::vector<uint32_t> duringChord = captureAt(window, shown, 4.3);
    std::vector<uint32_t> afterChord = captureAt(window, shown, 7.5);
    EXPECT_GE(std::max(darkenedKeyPixels(duringRest, duringChord),
                       darkenedKeyPixels(afterChord, duringChord)),
              100)
        << "--play did not start the performance";
    typeKey(window, "q");
    ASSERT_TRUE(program.waitForExit(std::chrono::seconds(10)));
    ASSERT_TRUE(WIFEXITED(program.status));
    EXPECT_EQ(WEXITSTATUS(program.status), 0);
    std::string err = slurpFile(program.errPath);
    if (!err.empty()) {
        EXPECT_EQ(err.rfind("No sound: ", 0), 0u) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }
    std::remove(score.c_str());
}

// Share of pixels that differ between two pictures of one size by more than a little.
double changedShare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return -1.0;
    }
    size_t changed = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int difference = 0;
        for (int shift : {0, 8, 16}) {
            difference += std::abs(static_cast<int>((a[i] >> shift) & 0xff) -
                                   static_cast<int>((b[i] >> shift) & 0xff));
        }
        changed += difference > 24 ? 1 : 0;
    }
    return static_cast<double>(changed) / a.size();
}

void drag(const std::string& window, int fromX, int fromY, int dx, int dy) {
    const std::string at = "xdotool mousemove --window " + window + " ";
    shellOutput(at + std::to_string(fromX) + " " + std::to_string(fromY) + " mousedown 1");
    for (int step = 1; step <= 4; ++step) {
        shellOutput(at + std::to_string(fromX + dx * step / 4) + " " +
                    std::to_string(fromY + dy * step / 4));
        std::this_thread::sleep_for(milliseconds(60));
    }
    shellOutput("xdotool mouseup 1");
}

// A left-button drag turns the new look's camera, and dragging back turns it back: the stopped
// window's picture changes with the drag and returns when the pointer does.
TEST(RealtimeEndToEnd, DraggingTurnsTheCameraAndDraggingBackReturnsIt) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X server (ctest runs this under xvfb-run)";
    std::string score = writeScore();
    Program program;
    ASSERT_TRUE(program.start({"--realtime", "--mute", score}));
    std::string window = findWindow();
    ASSERT_FALSE(window.empty()) << "the window did not appear";
    std::this_thread::sleep_for(milliseconds(800));
    const std::vector<uint32_t> before = capture(window);
    ASSERT_EQ(before.size(), 1280u * 720u);

    drag(window, 640, 400, 120, -80);
    std::this_thread::sleep_for(milliseconds(600));
    const std::vector<uint32_t> turned = capture(window);
    // The keyboard turned and tilted: a large part of the picture moved.
    EXPECT_GT(changedShare(before, turned), 0.05);

    drag(window, 760, 320, -120, 80);
    std::this_thread::sleep_for(milliseconds(600));
    const std::vector<uint32_t> back = capture(window);
    EXPECT_LT(changedShare(before, back), 0.002);

    typeKey(window, "q");
    ASSERT_TRUE(program.waitForExit(std::chrono::seconds(10))) << "q did not end the program";
    std::remove(score.c_str());
}

// Measures the score does not have: one line and status 1, no window.
TEST(RealtimeEndToEnd, UnknownMeasuresAreRefused) {
    std::string score = writeScore();
    Program program;
    ASSERT_TRUE(program.start({"--realtime", "--mute", "--from", "2", "--to", "9", score}));
    ASSERT_TRUE(program.waitForExit(std::chrono::seconds(20)));
    ASSERT_TRUE(WIFEXITED(program.status));
    EXPECT_EQ(WEXITSTATUS(program.status), 1);
    EXPECT_EQ(slurpFile(program.errPath), "quorvel: the score has no measure \"9\"\n");
    std::remove(score.c_str());
}
