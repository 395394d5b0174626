// What playing the ornaments out costs the preparation: a long two-staff score in which every
// measure carries grace notes, staccato, a trill, a turn, a rolled chord, a tremolo and a
// fermata, prepared with the marks played and with the notes as written; the best of a few runs
// of each and the notes each makes.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "bench_support.h"
#include "prepare/prepare.h"

namespace {

constexpr int kMeasures = 4000;
constexpr int kRuns = 3;

std::string note(const char* step, int octave, int duration, int staff, const char* extra,
                 const char* notations, bool chord = false) {
    std::string text = "<note>";
    text += chord ? "<chord/>" : "";
    text += std::string("<pitch><step>") + step + "</step><octave>" + std::to_string(octave) +
            "</octave></pitch><duration>" + std::to_string(duration) + "</duration>" + extra +
            "<voice>" + std::to_string(staff) + "</voice><staff>" + std::to_string(staff) +
            "</staff>";
    if (notations[0] != '\0') {
        text += std::string("<notations>") + notations + "</notations>";
    }
    return text + "</note>";
}

std::string score(int fermataEvery) {
    std::string s =
        "<?xml version=\"1.0\"?><score-partwise version=\"3.1\"><part-list><score-part "
        "id=\"P1\"><part-name>Piano</part-name></score-part></part-list><part id=\"P1\">";
    for (int m = 1; m <= kMeasures; ++m) {
        s += "<measure number=\"" + std::to_string(m) + "\">";
        if (m == 1) {
            s += "<attributes><divisions>8</divisions><staves>2</staves><clef number=\"1\">"
                 "<sign>G</sign><line>2</line></clef><clef number=\"2\"><sign>F</sign><line>4"
                 "</line></clef></attributes><sound tempo=\"100\"/>";
        }
        s += "<note><grace slash=\"yes\"/><pitch><step>D</step><octave>5</octave></pitch>"
             "<voice>1</voice><type>16th</type><staff>1</staff></note>";
        s += note("C", 5, 4, 1, "", "<articulations><staccato/></articulations>");
        s += note("E", 5, 4, 1, "", "<articulations><staccato/></articulations>");
        s += note("G", 5, 8, 1, "", "<ornaments><trill-mark/></ornaments>");
        s += note("F", 5, 8, 1, "", "<ornaments><turn/></ornaments>");
        s += "<note><grace/><pitch><step>A</step><octave>5</octave></pitch><voice>1</voice>"
             "<type>eighth</type><staff>1</staff></note>";
        s += note("G", 5, 8, 1, "", m % fermataEvery == 0 ? "<fermata/>" : "");
        s += "<backup><duration>32</duration></backup>";
        s += note("C", 3, 16, 2, "", "<arpeggiate/>");
        s += note("G", 3, 16, 2, "", "<arpeggiate/>", true);
        s += note("E", 4, 16, 2, "", "<arpeggiate/>", true);
        s += note("C", 3, 16, 2, "", "<ornaments><tremolo type=\"single\">2</tremolo></ornaments>");
        s += "</measure>";
    }
    return s + "</part></score-partwise>";
}

}  // namespace

int main() {
    // A fermata in every measure makes a tempo change at each end of it: the tempo map then
    // has thousands of entries, which every note's seconds walk through.
    for (int fermataEvery : {16, 1}) {
        const std::string text = score(fermataEvery);
        std::printf("score: %d measures, %.1f MB, a fermata every %d measures\n", kMeasures,
                    text.size() / 1e6, fermataEvery);
        std::fflush(stdout);
        for (bool ornaments : {false, true}) {
            PrepareOptions options;
            options.ornaments = ornaments;
            double best = 1e300;
            size_t notes = 0;
            for (int run = 0; run < kRuns; ++run) {
                PrepareResult result;
                const auto start = std::chrono::steady_clock::now();
                if (!prepareScoreText(text, options, &result)) {
                    std::printf("preparation failed: %s\n", result.error.c_str());
                    return 1;
                }
                best = std::min(best, seconds(std::chrono::steady_clock::now() - start));
                notes = result.notes.size();
            }
            std::printf("%-22s %8.3f s  %7zu notes prepared\n",
                        ornaments ? "marks played out:" : "notes as written:", best, notes);
            std::fflush(stdout);
        }
    }
    return 0;
}
