// quorvel-fingering INPUT OUTPUT: writes a copy of a score with a planned fingering on every note
// of its piano music, for a notation program to show over the original.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "export/output_file.h"
#include "fingering/optimal_annotate.h"

namespace {

constexpr const char* kProgram = "quorvel-fingering";

int fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    std::fflush(stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Writes a copy of a MusicXML score (.xml, .musicxml or .mxl) with a fingering on every "
        "note of its piano music, planned over the whole piece. Fingerings already in the score "
        "are kept and planned around.",
        kProgram};
    std::string input;
    std::string output;
    bool replace = false;
    PrepareOptions options;
    options.repeats = false;  // fingers go back onto the notes as written, each once
    app.add_option("INPUT", input, "the score to finger")->required();
    app.add_option("OUTPUT", output, "where to write the fingered score (plain MusicXML)")
        ->required();
    app.add_flag("--replace", replace, "plan the notes that already carry a fingering too");
    app.add_option("--part", options.parts,
                   "the piano part, by id or 1-based position; given twice: the right hand's "
                   "part, then the left hand's")
        ->take_all()
        ->expected(1)
        ->allow_extra_args(false)
        ->type_name("ID");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::printf("%s", app.help().c_str());
        std::fflush(stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        return fail(std::string(e.what()) + " (see --help)");
    }
    if (options.parts.size() > 2) {
        return fail("--part may be given at most twice (right hand, then left hand)");
    }
    OutputTarget target;
    std::string text, error;
    if (!checkOutput(output, {input}, &target, &error)) {
        return fail("cannot write " + output + ": " + error);
    }
    size_t fingered = 0, kept = 0;
    std::vector<std::string> partLines;
    if (!annotateFingering(input, options, replace, &text, &fingered, &kept, &error, &partLines)) {
        return fail(input + ": " + error);
    }
    // The part fingered, as quorvel-prepare reports it: a violin fingered as a piano is said so.
    for (const std::string& line : partLines) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    if (!writeOutput(target, text, &error)) {
        return fail("cannot write " + output + ": " + error);
    }
    std::fprintf(stderr, "%zu notes fingered, %zu printed fingerings kept\n", fingered, kept);
    std::fflush(stderr);
    return 0;
}
