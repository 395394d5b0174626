// quorvel-prepare INPUT OUTPUT: writes the piano music of a MusicXML score in the strict form
// the program reads, and says on standard error what it had to change.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "prepare/prepare.h"

namespace {

constexpr const char* kProgram = "quorvel-prepare";

void fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    std::fflush(stderr);
}

// Writes `text` to a temporary file beside `path` and renames it over `path`, so that a failed
// write never leaves a half-written score behind.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            *error = "cannot write " + path + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            close(fd);
            unlink(temporary.c_str());
            return false;
        }
        written += static_cast<size_t>(n);
    }
    // mkstemp makes the file readable by its owner only; a score is an ordinary document.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    if (close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Writes the piano music of a MusicXML score (.xml, .musicxml or .mxl) as a plain score "
        "the quorvel program reads, and reports on standard error every kind of change made.",
        kProgram};
    std::string input;
    std::string output;
    PrepareOptions options;
    app.add_option("INPUT", input, "the score to prepare")->required();
    app.add_option("OUTPUT", output, "where to write the prepared score (plain MusicXML)")
        ->required();
    app.add_option("--part", options.parts,
                   "the piano part, by id or 1-based position; given twice: the right hand's "
                   "part, then the left hand's")
        ->take_all()
        ->expected(1)
        ->type_name("ID");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::printf("%s", app.help().c_str());
        std::fflush(stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        fail(std::string(e.what()) + " (see --help)");
        return 1;
    }
    if (options.parts.size() > 2) {
        fail("--part may be given at most twice (right hand, then left hand)");
        return 1;
    }
    PrepareResult result;
    if (!prepareScore(input, options, &result)) {
        fail(input + ": " + result.error);
        return 1;
    }
    std::string error;
    if (!writeFileAtomically(output, result.xml, &error)) {
        fail(error);
        return 1;
    }
    for (const std::string& line : result.changes) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    return 0;
}
