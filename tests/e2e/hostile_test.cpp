// Runs the built program on broken and hostile files: each time it must explain itself on the
// right stream and end with status 0 before any window opens, without crashing or hanging.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace {

const std::string kData = QUORVEL_SOURCE_DIR "/tests/data/";
// Every file here fails to load within a second or two; this only guards against a hang.
constexpr auto kHostileMaximumRun = std::chrono::seconds(60);

// A scratch directory for this test program, removed at the end.
struct Scratch {
    std::string dir;
    std::vector<std::string> files;
    Scratch() {
        char pattern[] = "/tmp/quorvel_hostile_XXXXXX";
        dir = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        chmod(dir.c_str(), 0755);  // the unprivileged child must reach its files
    }
    ~Scratch() {
        for (const std::string& file : files) {
            unlink(file.c_str());
        }
        rmdir(dir.c_str());
    }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        files.push_back(path);
        return path;
    }
};
Scratch& scratch() {
    static Scratch instance;
    return instance;
}

// Runs the program on `argument`; with `dropRoot` (and when running as root) as the
// unprivileged user.
ProgramRun runHostile(const std::string& argument, bool dropRoot = false) {
    return runProgram(argument, kHostileMaximumRun, dropRoot);
}

// Runs `path` and expects exit status 0 with exactly `out` after the header and `err`.
void expectRefused(const std::string& path, const std::string& out, const std::string& err,
                   bool dropRoot = false) {
    SCOPED_TRACE(path);
    ProgramRun run = runHostile(path, dropRoot);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, loadingHeader(path) + out);
    EXPECT_EQ(run.err, err);
}

std::string score(const std::string& partList, const std::string& measures) {
    return "<?xml version=\"1.0\"?>\n<score-partwise><part-list>" + partList +
           "</part-list><part id=\"P1\">" + measures + "</part></score-partwise>\n";
}

const std::string kPiano =
    "<score-part id=\"P1\"><score-instrument><instrument-name>Piano</instrument-name>"
    "</score-instrument></score-part>";

}  // namespace

TEST(HostileFiles, ThingsThatAreNotScores) {
    expectRefused(scratch().write("empty.xml", ""),
                  "Could not load the score: No document element found at line 1, column 1\n", "");
    expectRefused(kData, "Could not load the score: the file cannot be read (Is a directory)\n",
                  "");
    expectRefused("/dev/zero",
                  "Could not load the score: the file cannot be read (File too large)\n", "");
    std::string binary =
        "\x7f"
        "ELF";
    for (int i = 0; i < 2048; ++i) {
        binary += static_cast<char>((i * 131 + 7) & 0xFF);
    }
    ProgramRun run = runHostile(scratch().write("binary.xml", binary));
    ASSERT_TRUE(run.ended) << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind(
                  loadingHeader(scratch().dir + "/binary.xml") + "Could not load the score: ", 0),
              0u)
        << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(HostileFiles, AnUnreadableFileIsReportedAsSuch) {
    const std::string path = scratch().write("locked.xml", score(kPiano, ""));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    expectRefused(path, "Could not load the score: the file cannot be read (Permission denied)\n",
                  "", true);
}

TEST(HostileFiles, EntitiesDeepNestingAndHugeTextsEndInAFormatMessage) {
    // A local file behind an external entity is never read: its marker shows up nowhere. The
    // score then lacks divisions, so the program ends without a window.
    const std::string marker = "QUORVEL-SECRET-e2e-5a9c";
    const std::string secret = scratch().write("secret.txt", marker);
    const std::string external = scratch().write(
        "external.xml",
        "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise [<!ENTITY s SYSTEM \"file://" + secret +
            "\"><!ENTITY h SYSTEM "
            "\"file:///etc/hostname\">]>\n<score-partwise><work><work-title>&s;"
            "&h;</work-title></work><part-list><score-part id=\"P1\"><score-instrument>"
            "<instrument-name>Piano</instrument-name></score-instrument></score-part></part-list>"
            "<part id=\"P1\"><measure><attributes><clef><sign>&s;</sign></clef></attributes>"
            "<note><pitch><step>&s;</step><octave>4</octave></pitch><duration>1</duration>"
            "<staff>&s;</staff></note></measure></part></score-partwise>\n");
    ProgramRun run = runHostile(external);
    ASSERT_TRUE(run.ended) << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, loadingHeader(external));
    EXPECT_EQ(run.err,
              "Error converting BSTR to pitch value.\n: Success\n"
              "Unexpected Format: unexpected clef\n: Success\n");
    EXPECT_EQ((run.out + run.err).find(marker), std::string::npos);

    // Billion laughs with the piano part then holding a sixth finger.
    std::string entities = "<!ENTITY a \"aaaaaaaaaa\">";
    std::string last = "a";
    for (int level = 1; level <= 9; ++level) {
        const std::string name = "a" + std::to_string(level);
        entities += "<!ENTITY " + name + " \"";
        for (int i = 0; i < 10; ++i) {
            entities += "&" + last + ";";
        }
        entities += "\">";
        last = name;
    }
    std::string chord;
    for (const char* step : {"C", "D", "E", "F", "G", "A"}) {
        chord += std::string("<note>") + (chord.empty() ? "" : "<chord/>") + "<pitch><step>" +
                 step +
                 "</step><octave>4</octave></pitch><duration>1</duration><staff>1</staff></note>";
    }
    const std::string bomb = scratch().write(
        "bomb.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise [" + entities + "]>\n" +
                        score(kPiano,
                              "<measure><attributes><divisions>1</divisions><clef><sign>G"
                              "</sign></clef></attributes><direction><words>&" +
                                  last + ";</words></direction>" + chord + "</measure>"));
    expectRefused(bomb, "",
                  "Unexpected Format: unplayable format: not enough fingers (right hand)\n: "
                  "Success\n");

    // 100,000 levels of nesting inside a note, then a staff no clef names.
    std::string deep;
    for (int i = 0; i < 100000; ++i) {
        deep += "<x>";
    }
    for (int i = 0; i < 100000; ++i) {
        deep += "</x>";
    }
    expectRefused(
        scratch().write("deep.xml", score(kPiano,
                                          "<measure><attributes><divisions>1</divisions>"
                                          "<clef><sign>G</sign></clef></attributes><note>" +
                                              deep +
                                              "<rest/><duration>1</duration><staff>9</staff>"
                                              "</note></measure>")),
        "", "Unexpected Format: unexpected clef\n: Success\n");

    // A megabyte instrument name is no piano.
    expectRefused(
        scratch().write("meganame.xml",
                        score("<score-part id=\"P1\"><score-instrument><instrument-name>" +
                                  std::string(1 << 20, 'P') +
                                  "</instrument-name></score-instrument></score-part>",
                              "")),
        "", "Piano Part ID could not be found: Program exited\n: Success\n");
}
