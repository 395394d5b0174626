// quorvel-prepare INPUT OUTPUT: writes the piano music of a MusicXML score in the strict form
// the program reads, and says on standard error what it had to change.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "export/output_file.h"
#include "prepare/prepare.h"

namespace {

constexpr const char* kProgram = "quorvel-prepare";

void fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    std::fflush(stderr);
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
        ->allow_extra_args(false)
        ->type_name("ID");
    bool noRepeats = false;
    app.add_flag("--no-repeats", noRepeats,
                 "write every measure once (by default repeats, endings, D.C. and D.S. are "
                 "written out in the order they are played)");
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
    options.repeats = !noRepeats;
    if (options.parts.size() > 2) {
        fail("--part may be given at most twice (right hand, then left hand)");
        return 1;
    }
    OutputTarget target;
    std::string error;
    if (!checkOutput(output, {input}, &target, &error)) {
        fail("cannot write " + output + ": " + error);
        return 1;
    }
    PrepareResult result;
    if (!prepareScore(input, options, &result)) {
        fail(input + ": " + result.error);
        return 1;
    }
    if (!writeOutput(target, result.xml, &error)) {
        fail("cannot write " + output + ": " + error);
        return 1;
    }
    for (const std::string& line : result.changes) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    return 0;
}
