// Time and peak memory of the score import on the largest hostile inputs: a 200 MB file of
// forward steps that builds a timeline of several million ticks, one whose forwards run into the
// longest timeline the reader builds, one whose backups push the cursor ahead until the reader
// stops it, and one beyond the file size limit. Each load runs in a child process of its own, so
// that its peak resident memory is its own.
//   bench_hostile_load [directory for the generated files]   (default: $TMPDIR or /tmp)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

constexpr long kMegabyte = 1024L * 1024;
// Size of the generated files of repeated elements.
constexpr long kHostileBytes = 200 * kMegabyte;
// Size of the file beyond the reader's limit.
constexpr long kOversizeBytes = 300 * kMegabyte;

const char* const kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">\n<part-list>"
    "<score-part id=\"P1\"><score-instrument id=\"P1-I1\"><instrument-name>Piano"
    "</instrument-name></score-instrument></score-part></part-list>\n<part id=\"P1\">"
    "<measure number=\"1\"><attributes><divisions>4</divisions><clef number=\"1\"><sign>G</sign>"
    "</clef><clef number=\"2\"><sign>F</sign></clef></attributes>\n"
    "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration><staff>1</staff>"
    "</note>\n";
const char* const kTail = "</measure></part>\n</score-partwise>\n";

// Writes the head, then `open`, then `unit` repeated until the file reaches `bytes`, then `close`
// and the tail. Returns the file's size, or -1.
long writeRepeated(const std::string& path, const std::string& open, const std::string& unit,
                   const std::string& close, long bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return -1;
    }
    std::string block;
    while (block.size() < 1 << 20) {
        block += unit;
    }
    long written = std::fprintf(out, "%s%s", kHead, open.c_str());
    while (written < bytes) {
        written += static_cast<long>(std::fwrite(block.data(), 1, block.size(), out));
    }
    written += std::fprintf(out, "%s%s", close.c_str(), kTail);
    std::fclose(out);
    return written;
}

// The last message the load printed (the totals or the reason it refused), and the ticks line.
std::string lastMessage(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::string message;
    std::string ticks;
    while (std::getline(in, line)) {
        if (line.rfind("ticks ", 0) == 0) {
            ticks = line;
        } else if (!line.empty() && line != ": Success") {
            message = line;
        }
    }
    return ticks + ", " + message;
}

// Loads `path` in a child process and prints what it took.
void measure(const char* label, const std::string& path, const std::string& dir) {
    struct stat info;
    const double megabytes =
        stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) / kMegabyte : -1.0;
    const std::string outPath = dir + "/quorvel_hostile_bench.out";
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        std::string program = "quorvel";
        std::string argument = path;
        char* argv[] = {program.data(), argument.data(), nullptr};
        const int result = loadScore(2, argv);
        std::fflush(stdout);
        std::printf("ticks %zu\n", rightNotes.size());
        std::fflush(stdout);
        _exit(result == 0 ? 0 : 1);
    }
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool loaded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::printf("%-34s %7.1f MB  %s  %6.2f s  peak %7.1f MB  (%s)\n", label, megabytes,
                !WIFEXITED(status) ? "CRASHED"
                : loaded           ? "loaded "
                                   : "refused",
                seconds, static_cast<double>(usage.ru_maxrss) / 1024.0,
                lastMessage(outPath).c_str());
    std::fflush(stdout);
    unlink(outPath.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc >= 2 ? argv[1] : tmp != nullptr ? tmp : "/tmp";
    const std::string path = dir + "/quorvel_hostile_bench_" + std::to_string(getpid()) + ".xml";

    std::printf("%-34s %10s  %s  %8s  %15s\n", "input", "size", "result ", "time", "peak memory");
    std::fflush(stdout);

    writeRepeated(path, "", "<forward><duration>1</duration></forward>\n", "", kHostileBytes);
    measure("forwards of 1 tick", path, dir);

    writeRepeated(path, "", "<forward><duration>4999</duration></forward>\n", "", kHostileBytes);
    measure("forwards of 4999 ticks", path, dir);

    writeRepeated(path, "<backup>", "<duration>-2</duration>", "</backup>", kHostileBytes);
    measure("backups of -2 ticks", path, dir);

    writeRepeated(path, "", "<forward><duration>1</duration></forward>\n", "", kOversizeBytes);
    measure("file beyond the size limit", path, dir);

    unlink(path.c_str());
    return 0;
}
